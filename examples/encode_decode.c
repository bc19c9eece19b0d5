/* Compresses a generated RGB image with the Quenpix library, writes the two files, reads them
 * back, decodes them and checks that every pixel came back.
 *
 *   cc encode_decode.c $(pkg-config --cflags --libs quenpix) -o encode_decode
 *   ./encode_decode picture      (writes picture.lsg and picture.pls)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quenpix/quenpix.h>

static int write_file(const char* name, const uint8_t* bytes, size_t size) {
    FILE* file = fopen(name, "wb");
    if (file == NULL) return 0;
    const int ok = fwrite(bytes, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

/* The whole file in memory from malloc, or NULL. */
static uint8_t* read_file(const char* name, size_t* size) {
    FILE* file = fopen(name, "rb");
    if (file == NULL) return NULL;
    uint8_t* bytes = NULL;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) >= 0 &&
        fseek(file, 0, SEEK_SET) == 0) {
        bytes = malloc((size_t)length + 1);
        if (bytes != NULL && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
            free(bytes);
            bytes = NULL;
        }
    }
    fclose(file);
    *size = (size_t)length;
    return bytes;
}

static int progress(void* user, int percent) {
    (void)user;
    fprintf(stderr, "\r%3d%%", percent);
    if (percent == 100) fprintf(stderr, "\n");
    return 0; /* non-zero would cancel */
}

int main(int argc, char** argv) {
    const char* base = argc > 1 ? argv[1] : "example";
    enum { kWidth = 320, kHeight = 200 };
    static uint8_t pixels[kWidth * kHeight * 3];
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t* p = pixels + (y * kWidth + x) * 3;
            p[0] = (uint8_t)(x * 255 / kWidth);
            p[1] = (uint8_t)(y * 255 / kHeight);
            p[2] = (uint8_t)((x ^ y) & 0xF0);
        }
    }

    quenpix_encode_options options;
    quenpix_encode_options_init(&options);
    options.level = 3;
    options.progress = progress;
    quenpix_match_counts matches;
    options.matches = &matches;
    uint8_t* lsg = NULL;
    uint8_t* pls = NULL;
    size_t lsg_size = 0;
    size_t pls_size = 0;
    quenpix_status status = quenpix_encode_rgb(pixels, kWidth, kHeight, kWidth * 3, &options, &lsg,
                                               &lsg_size, &pls, &pls_size);
    if (status != QUENPIX_OK) {
        fprintf(stderr, "encoding failed: %s\n", quenpix_status_message(status));
        return 1;
    }
    printf("quenpix %s: %zu + %zu bytes for %d pixels, %u matches\n", quenpix_version(), lsg_size,
           pls_size, kWidth * kHeight, matches.raw + matches.vertical + matches.horizontal);

    char lsg_name[4096];
    char pls_name[4096];
    snprintf(lsg_name, sizeof(lsg_name), "%s.lsg", base);
    snprintf(pls_name, sizeof(pls_name), "%s.pls", base);
    const int written = write_file(lsg_name, lsg, lsg_size) && write_file(pls_name, pls, pls_size);
    quenpix_free(lsg);
    quenpix_free(pls);
    if (!written) {
        fprintf(stderr, "cannot write %s and %s\n", lsg_name, pls_name);
        return 1;
    }

    size_t read_lsg_size = 0;
    size_t read_pls_size = 0;
    uint8_t* read_lsg = read_file(lsg_name, &read_lsg_size);
    uint8_t* read_pls = read_file(pls_name, &read_pls_size);
    uint8_t* rgb = NULL;
    uint32_t width = 0;
    uint32_t height = 0;
    char message[256] = "";
    quenpix_decode_options decode_options;
    quenpix_decode_options_init(&decode_options);
    decode_options.message = message;
    decode_options.message_size = sizeof(message);
    status = quenpix_decode_rgb_with_options(read_lsg, read_lsg_size, read_pls, read_pls_size,
                                             &decode_options, &rgb, &width, &height);
    free(read_lsg);
    free(read_pls);
    if (status != QUENPIX_OK) {
        fprintf(stderr, "decoding failed: %s (%s)\n", quenpix_status_message(status), message);
        return 1;
    }
    const int same =
        width == kWidth && height == kHeight && memcmp(rgb, pixels, sizeof(pixels)) == 0;
    quenpix_free(rgb);
    printf("%s\n", same ? "every pixel came back" : "the pixels differ");
    return same ? 0 : 1;
}
