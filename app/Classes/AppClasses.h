#pragma once
// Registration of this application's classes, and of every plugin library it is built with,
// with the class registry. Called once by the runner before the application starts.
namespace harbor {

// AppDelegate, MainViewController, MainCommandDelegate, MainCommandQueue.
void registerAppClasses();
// Each plugin library's registration function.
void registerPluginClasses();

}  // namespace harbor
