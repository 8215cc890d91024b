// The entry point of a Harbor application: the runner sets up the simulated device and the
// application's sandbox, then hands control to the platform's application main loop with
// "AppDelegate" as the application delegate class.
#include "HarborRunner.h"

int main(int argc, char** argv) { return harbor::runner::run(argc, argv); }
