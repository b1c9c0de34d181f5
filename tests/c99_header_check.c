/* Compiled as C99 with -Wall -Wextra -Werror -pedantic: the public headers must stay C-clean. */
#include <stdio.h>

#include "kip/kip.h"

int main(void) {
    kimg_image image;
    kimg_window window;
    kstd_rect32 rect = {2, 3, 4, 5};
    const char* name = NULL;
    kip_status s = kimg_image_constructRect(&image, 1, &rect);
    if (kip_status_isFailure(s)) return 1;
    s = kimg_window_init(&window, &image);
    kip_status_getName(kip_errBadMode, &name);
    printf("%s %d %d\n", name, (int)window.rect.width, (int)s);
    kimg_image_destruct(&image);
    /* The library's version is the one its headers carry. */
    uint32_t major = 99, minor = 99, patch = 99;
    if (kip_getVersion(&major, &minor, &patch) != 0 || major != KIP_VERSION_MAJOR || minor != KIP_VERSION_MINOR ||
        patch != KIP_VERSION_PATCH)
        return 1;
    return kip_status_isNotAvailable(kip_errNotAvailable) ? 0 : 1;
}
