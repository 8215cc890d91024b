#pragma once
// The one call that makes the container's classes known by name to the class registry: the
// view controller, the built-in plugins and the web view engines. The runner calls it once at
// start, before the application delegate is created; calling it again does no harm.
namespace harbor {

void registerContainerClasses();

}  // namespace harbor
