#include "AppClasses.h"

#include "AppDelegate.h"
#include "BatteryStatusPlugin.h"
#include "CameraPlugin.h"
#include "ClipboardPlugin.h"
#include "ConsolePlugin.h"
#include "ContactsPlugin.h"
#include "DeviceMotionPlugin.h"
#include "DeviceOrientationPlugin.h"
#include "DevicePlugin.h"
#include "DialogsPlugin.h"
#include "FilePlugin.h"
#include "FileTransferPlugin.h"
#include "LocalNotificationPlugin.h"
#include "GeolocationPlugin.h"
#include "GlobalizationPlugin.h"
#include "ImagePickerPlugin.h"
#include "MediaCapturePlugin.h"
#include "MediaPlugin.h"
#include "NetworkInformationPlugin.h"
#include "SplashScreenPlugin.h"
#include "StatusBarPlugin.h"
#include "VibrationPlugin.h"
#include "MainCommandDelegate.h"
#include "MainCommandQueue.h"
#include "MainViewController.h"
#include "plat/foundation/ClassRegistry.h"

namespace harbor {

void registerAppClasses() {
  auto& registry = plat::ClassRegistry::shared();
  registry.registerClass<AppDelegate>("AppDelegate");
  registry.registerClass<MainViewController>("MainViewController");
  registry.registerClass<MainCommandDelegate>("MainCommandDelegate");
  registry.registerClass<MainCommandQueue>("MainCommandQueue");
}

void registerPluginClasses() {
  // One call per plugin library linked into the application (Plugins/*/); config.xml can only
  // name classes registered here.
  auto& registry = plat::ClassRegistry::shared();
  registerBatteryStatusPlugin(registry);
  registerCameraPlugin(registry);
  registerClipboardPlugin(registry);
  registerConsolePlugin(registry);
  registerContactsPlugin(registry);
  registerDevicePlugin(registry);
  registerDeviceMotionPlugin(registry);
  registerDeviceOrientationPlugin(registry);
  registerDialogsPlugin(registry);
  registerFilePlugin(registry);
  registerFileTransferPlugin(registry);
  registerLocalNotificationPlugin(registry);
  registerGeolocationPlugin(registry);
  registerGlobalizationPlugin(registry);
  registerImagePickerPlugin(registry);
  registerMediaCapturePlugin(registry);
  registerMediaPlugin(registry);
  registerNetworkInformationPlugin(registry);
  registerSplashScreenPlugin(registry);
  registerStatusBarPlugin(registry);
  registerVibrationPlugin(registry);
}

}  // namespace harbor
