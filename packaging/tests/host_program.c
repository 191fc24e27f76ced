/* A host program built against an installed quorbit: the header, the
 * pkg-config flags and the shared library must all be found from the
 * install tree. Without a camera OpenDevice fails; the string table still
 * answers. */
#include <quorbit.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    char text[256] = {0};
    if (!GetString(13, text) || strcmp(text, "read card error,work incomplete") != 0) {
        fprintf(stderr, "GetString(13) gave '%s'\n", text);
        return 1;
    }
    if (IsConnect() != 0 || CloseDevice() != -1) {
        fprintf(stderr, "a session is open before OpenDevice\n");
        return 1;
    }
    return 0;
}
