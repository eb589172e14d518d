/* main.c - an outside host: starts the driver on a system folder and lists its cameras. */
#include <stdio.h>

#include <kestcam/kestcam.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: outside_host SYSTEM_DIR\n");
        return 2;
    }
    if (initialize(argv[1], NULL) != 1) {
        fprintf(stderr, "outside_host: initialize failed\n");
        return 1;
    }
    const int count = getCVLNoOfSupportedCameras();
    char **names = getCVLCameraConfigNames();
    int listed = 0;
    for (; names != NULL && names[listed] != NULL; ++listed)
        printf("%s\n", names[listed]);
    finalize();
    if (listed != count) {
        fprintf(stderr, "outside_host: %d names for %d cameras\n", listed, count);
        return 1;
    }
    return 0;
}
