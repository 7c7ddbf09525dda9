// nasscout: finds the NAS devices on the local network and opens the one the
// user picks.
#include "application_main.h"
#include "src/port67/port67_handover.h"

int main(int argc, char **argv)
{
    RunThroughPort67Helper(argv, "nasscout");
    return applicationMain(argc, argv);
}
