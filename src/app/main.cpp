// nasscout: finds the NAS devices on the local network and opens the one the
// user picks.
#include "application_main.h"

int main(int argc, char **argv)
{
    return applicationMain(argc, argv);
}
