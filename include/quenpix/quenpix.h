/* Quenpix: lossless compression of 8-bit RGB images. The C interface of the library.
 *
 * A compressed image is two files: the compressed file (".lsg") and its side file (".pls");
 * both are needed to decode it. Every function is re-entrant: any number of threads may encode
 * and decode at once, each with its own buffers. No function keeps state between calls.
 * Buffers that the library returns are allocated by it and released with quenpix_free(). */
#ifndef QUENPIX_QUENPIX_H
#define QUENPIX_QUENPIX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QUENPIX_EXPORT
#else
#define QUENPIX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum quenpix_status {
    QUENPIX_OK = 0,
    /* A NULL pointer, a zero dimension, a stride below 3 x width, sizes whose products
       overflow, or an option out of range. */
    QUENPIX_INVALID_ARGUMENT = 1,
    /* Dimensions beyond what the format can hold (about 1.4 billion pixels). */
    QUENPIX_IMAGE_TOO_LARGE = 2,
    QUENPIX_OUT_OF_MEMORY = 3,
    /* The progress function asked to stop. */
    QUENPIX_CANCELLED = 4,
    /* The compressed file or its side file is damaged, truncated or not a Quenpix file, or the
       side file belongs to another image. */
    QUENPIX_CORRUPT_DATA = 5,
    /* A failure the library did not foresee. */
    QUENPIX_INTERNAL_ERROR = 6
} quenpix_status;

/* The matches that a compressed stream carries, by the plane they were found in. */
typedef struct quenpix_match_counts {
    uint32_t raw;        /* the image itself */
    uint32_t vertical;   /* its vertical differences */
    uint32_t horizontal; /* its horizontal differences */
} quenpix_match_counts;

typedef struct quenpix_encode_options {
    int level;                    /* 0 fastest (no match search) .. 3 maximal; default 2 */
    int search_difference_planes; /* default 1; 0 searches the image alone */
    int replace_short_matches;    /* default 1; 0 keeps every match */
    int threads;                  /* 0 (default): as many as the process may run on */
    /* May be NULL. Called from the calling thread with 0 to 100, in order; a non-zero return
       cancels the encoding, which then returns QUENPIX_CANCELLED. */
    int (*progress)(void* user, int percent);
    void* user; /* handed to progress unchanged */
    /* May be NULL: on success, the matches of the stream, as the command-line tool reports. */
    quenpix_match_counts* matches;
    /* May be NULL: on failure, the detailed message, truncated to message_size bytes with its
       terminating NUL. */
    char* message;
    size_t message_size;
} quenpix_encode_options;

/* Sets every field to its default. Call it first, then change what you need: fields added in
   later versions get their defaults this way. */
QUENPIX_EXPORT void quenpix_encode_options_init(quenpix_encode_options* options);

/* Compresses `height` rows of `width` RGB pixels, 3 bytes each, rows top to bottom, `stride`
   bytes from one row to the next (at least 3 x width). `options` may be NULL for the defaults.
   On success *lsg and *pls hold the compressed file's and the side file's bytes, allocated by
   the library (free them with quenpix_free), byte for byte what the command-line tool writes
   for the same image and options, at every thread count. On failure they are set to NULL and
   their sizes to 0. */
QUENPIX_EXPORT quenpix_status quenpix_encode_rgb(const uint8_t* rgb, uint32_t width,
                                                 uint32_t height, size_t stride,
                                                 const quenpix_encode_options* options,
                                                 uint8_t** lsg, size_t* lsg_size, uint8_t** pls,
                                                 size_t* pls_size);

typedef struct quenpix_decode_options {
    int threads; /* 0 (default): as many as the process may run on; 1: the calling thread only */
    /* May be NULL: on failure, the decoder's detailed message (which chunk, which checksum),
       truncated to message_size bytes with its terminating NUL. */
    char* message;
    size_t message_size;
} quenpix_decode_options;

QUENPIX_EXPORT void quenpix_decode_options_init(quenpix_decode_options* options);

/* Decodes a compressed file with its side file. On success *rgb holds width x height x 3
   bytes, rows top to bottom, allocated by the library (free it with quenpix_free), and *width
   and *height the image's dimensions. Every checksum is verified. On failure *rgb is NULL and
   the dimensions are 0. */
QUENPIX_EXPORT quenpix_status quenpix_decode_rgb(const uint8_t* lsg, size_t lsg_size,
                                                 const uint8_t* pls, size_t pls_size, uint8_t** rgb,
                                                 uint32_t* width, uint32_t* height);

/* The same with options; `options` may be NULL. */
QUENPIX_EXPORT quenpix_status quenpix_decode_rgb_with_options(const uint8_t* lsg, size_t lsg_size,
                                                              const uint8_t* pls, size_t pls_size,
                                                              const quenpix_decode_options* options,
                                                              uint8_t** rgb, uint32_t* width,
                                                              uint32_t* height);

/* What a compressed file records about its image. */
typedef struct quenpix_info {
    uint32_t width;
    uint32_t height;
    /* The colour transform: 0 for none, otherwise the byte that names its one or two channel
       subtractions. */
    int colour_transform;
    int median_predictor; /* 1: the residuals come from the median predictor; 0: the context model
                           */
    uint32_t idat_chunks; /* the chunks that hold the compressed stream */
} quenpix_info;

/* Reads the container of a compressed file, checking its chunks and their CRCs, without
   decoding the image or needing the side file. */
QUENPIX_EXPORT quenpix_status quenpix_read_info(const uint8_t* lsg, size_t lsg_size,
                                                quenpix_info* info);

/* What decoding a file in full shows about its stream. */
typedef struct quenpix_stream_info {
    uint32_t huffman_blocks;
    quenpix_match_counts matches;
    uint32_t colour_boxes; /* the boxes of the side file's table */
} quenpix_stream_info;

/* Decodes and verifies a compressed file with its side file, keeping no pixels. `stream` may be
   NULL; on success it receives what the stream holds. `options` may be NULL. */
QUENPIX_EXPORT quenpix_status quenpix_verify(const uint8_t* lsg, size_t lsg_size,
                                             const uint8_t* pls, size_t pls_size,
                                             const quenpix_decode_options* options,
                                             quenpix_stream_info* stream);

/* Releases a buffer that the library returned. NULL is fine. */
QUENPIX_EXPORT void quenpix_free(void* pointer);

/* A short English text for any status value, never NULL. */
QUENPIX_EXPORT const char* quenpix_status_message(quenpix_status status);

/* The library's version, "MAJOR.MINOR.PATCH". */
QUENPIX_EXPORT const char* quenpix_version(void);

#ifdef __cplusplus
}
#endif

#endif /* QUENPIX_QUENPIX_H */
