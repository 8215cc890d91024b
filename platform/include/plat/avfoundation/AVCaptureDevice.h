#pragma once
// Whether the application may use the camera: the user's answer to the system's prompt, part of
// the simulated device. Tests and the runner set it with SimulatedCamera (UIImagePickerController.h);
// a fresh process starts authorized. Any thread.
#include <string>

namespace plat {

inline constexpr char AVMediaTypeVideo[] = "vide";
inline constexpr char AVMediaTypeAudio[] = "soun";

enum AVAuthorizationStatus : long {
  AVAuthorizationStatusNotDetermined = 0,
  AVAuthorizationStatusRestricted = 1,
  AVAuthorizationStatusDenied = 2,
  AVAuthorizationStatusAuthorized = 3,
};

class AVCaptureDevice {
 public:
  // For video the camera's permission; every other media type reads authorized.
  static AVAuthorizationStatus authorizationStatusForMediaType(const std::string& mediaType);
};

}  // namespace plat
