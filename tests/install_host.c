/* A host built against the installed tree. */
#include <stdio.h>
#include <string.h>

#include <filmo.h>

int main(void) {
    if (strcmp(filmo_version(), "1.0.0") != 0) return 1;
    if (filmo_use_fake() != 0) return 1;
    filmo_shutdown();
    puts("installed filmo " "works");
    return 0;
}
