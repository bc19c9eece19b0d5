/* The public header compiles as C11 and its one-call forms work from C. */
#include <stdio.h>
#include <string.h>

#include "quenpix/quenpix.h"

int main(void) {
    enum { kWidth = 17, kHeight = 9 };
    uint8_t pixels[kWidth * kHeight * 3];
    for (size_t i = 0; i < sizeof(pixels); ++i)
        pixels[i] = (uint8_t)(i * 7 + i / 51);

    uint8_t* lsg = NULL;
    uint8_t* pls = NULL;
    size_t lsg_size = 0;
    size_t pls_size = 0;
    quenpix_status status = quenpix_encode_rgb(pixels, kWidth, kHeight, kWidth * 3, NULL, &lsg,
                                               &lsg_size, &pls, &pls_size);
    if (status != QUENPIX_OK) {
        fprintf(stderr, "encode: %s\n", quenpix_status_message(status));
        return 1;
    }
    uint8_t* rgb = NULL;
    uint32_t width = 0;
    uint32_t height = 0;
    status = quenpix_decode_rgb(lsg, lsg_size, pls, pls_size, &rgb, &width, &height);
    const int same = status == QUENPIX_OK && width == kWidth && height == kHeight &&
                     memcmp(rgb, pixels, sizeof(pixels)) == 0;
    quenpix_free(rgb);
    quenpix_free(lsg);
    quenpix_free(pls);
    if (!same) fprintf(stderr, "decode: %s\n", quenpix_status_message(status));
    return same ? 0 : 1;
}
