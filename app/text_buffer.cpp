/*
 * text_buffer.cpp: the growable buffer. It doubles as it grows, so
 * appending n bytes piece by piece costs O(n) copies in all.
 */
#include "app/text_buffer.h"

#include <stdlib.h>
#include <string.h>

#include "crypto/crypto_wipe.h"

/* A new block of size bytes with the old bytes in it; a secret buffer's
   old block is wiped before it is freed, as realloc would not. */
static char *text_buffer_grow(TextBuffer *buffer, size_t size) {
    if (!buffer->secret)
        return (char *)realloc(buffer->text, size);
    char *grown = (char *)malloc(size);
    if (grown && buffer->used > 0)
        memcpy(grown, buffer->text, buffer->used);
    if (grown) {
        crypto_wipe(buffer->text, buffer->size);
        free(buffer->text);
    }
    return grown;
}

int text_buffer_add(TextBuffer *buffer, const void *bytes, size_t length) {
    if (buffer->lost)
        return 0;
    if (buffer->size - buffer->used < length) {
        size_t size = buffer->size * 2 + length + 4096;
        char *grown = text_buffer_grow(buffer, size);
        if (!grown) {
            buffer->lost = 1;
            return 0;
        }
        buffer->text = grown;
        buffer->size = size;
    }
    if (length > 0)
        memcpy(buffer->text + buffer->used, bytes, length);
    buffer->used += length;
    return 1;
}

void text_buffer_free(TextBuffer *buffer) {
    if (buffer->secret)
        crypto_wipe(buffer->text, buffer->size);
    free(buffer->text);
    buffer->text = 0;
    buffer->used = buffer->size = 0;
    buffer->lost = 0;
}
