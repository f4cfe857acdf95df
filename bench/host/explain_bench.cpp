/*
 * explain_bench.cpp: the cost of explaining the largest response a trace
 * can show: 65,535 bytes (data and SW1 SW2) holding about 5,000 BER-TLV
 * objects nested 32 levels deep, explained 20 times into /dev/null. Prints
 * the median and the worst run in milliseconds.
 */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "explain/explain.h"

enum {
    BENCH_RESPONSE_SIZE = 65535, /* data and SW1 SW2 */
    BENCH_RUNS = 20,
    BENCH_VALUE_SIZE = 20,  /* value bytes of each primitive object */
    BENCH_BLOCK_MAX = 1024, /* room one nest of EXPLAIN_DEPTH_MAX levels needs at most */
};

typedef struct BenchCount {
    FILE *stream;
    size_t lines;
    size_t bytes;
} BenchCount;

static void bench_sink(void *context, const char *text, size_t length) {
    BenchCount *count = (BenchCount *)context;
    fwrite(text, 1, length, count->stream);
    count->bytes += length;
    for (size_t i = 0; i < length; i++)
        count->lines += text[i] == '\n';
}

/* Writes tag, length and nothing else just before *at (the value is
   already there), moving *at down. */
static void bench_put_header(unsigned char *data, size_t *at, const unsigned char *tag,
                             size_t tag_length, size_t length) {
    if (length > 0xFF) {
        data[--*at] = (unsigned char)length;
        data[--*at] = (unsigned char)(length >> 8);
        data[--*at] = 0x82;
    } else if (length > 0x7F) {
        data[--*at] = (unsigned char)length;
        data[--*at] = 0x81;
    } else {
        data[--*at] = (unsigned char)length;
    }
    *at -= tag_length;
    memcpy(data + *at, tag, tag_length);
}

/* One nest, written backwards ending at *at: a constructed object on each
   level holding a primitive object and the next level. Returns the objects
   written. */
static size_t bench_put_nest(unsigned char *data, size_t *at) {
    static const unsigned char constructed[3][2] = {{0x70, 0}, {0xA5, 0}, {0xBF, 0x0C}};
    size_t end = *at;
    for (int level = EXPLAIN_DEPTH_MAX; level >= 1; level--) {
        unsigned char primitive[2] = {0x9F, (unsigned char)(0x10 + level)};
        *at -= BENCH_VALUE_SIZE;
        memset(data + *at, 0x40 + level, BENCH_VALUE_SIZE);
        bench_put_header(data, at, primitive, 2, BENCH_VALUE_SIZE);
        const unsigned char *tag = constructed[level % 3];
        bench_put_header(data, at, tag, tag[1] ? 2 : 1, end - *at);
    }
    return 2 * EXPLAIN_DEPTH_MAX;
}

static size_t bench_length_size(size_t length) {
    return length > 0xFF ? 3 : length > 0x7F ? 2 : 1;
}

/* Fills data (size bytes) with nests; the room before the first takes one
   primitive object as large as fits and 00 padding bytes. Returns the
   objects. */
static size_t bench_build(unsigned char *data, size_t size) {
    static const unsigned char filler[1] = {0x53};
    size_t at = size, objects = 0;
    while (at >= BENCH_BLOCK_MAX)
        objects += bench_put_nest(data, &at);
    size_t value = at > 2 ? at - 2 : 0;
    while (value && 1 + bench_length_size(value) + value > at)
        value--;
    if (at >= 2) {
        at -= value;
        memset(data + at, 0x5A, value);
        bench_put_header(data, &at, filler, 1, value);
        objects++;
    }
    memset(data, 0x00, at);
    return objects;
}

static double bench_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

int main(void) {
    static unsigned char response[BENCH_RESPONSE_SIZE];
    size_t objects = bench_build(response, BENCH_RESPONSE_SIZE - 2);
    response[BENCH_RESPONSE_SIZE - 2] = 0x90;
    response[BENCH_RESPONSE_SIZE - 1] = 0x00;

    BenchCount count = {fopen("/dev/null", "w"), 0, 0};
    if (!count.stream)
        return 1;
    double runs[BENCH_RUNS];
    for (int run = 0; run < BENCH_RUNS; run++) {
        count.lines = count.bytes = 0;
        double start = bench_ms();
        explain_response(0, 0, response, sizeof response, bench_sink, &count);
        runs[run] = bench_ms() - start;
    }
    fclose(count.stream);
    /* The SW line and one line per object: anything else means the data
       was not read as the tree it is. */
    if (count.lines != objects + 1) {
        fprintf(stderr, "explain_bench: %zu lines for %zu objects\n", count.lines, objects);
        return 1;
    }
    for (int i = 1; i < BENCH_RUNS; i++)
        for (int j = i; j > 0 && runs[j - 1] > runs[j]; j--) {
            double swap = runs[j];
            runs[j] = runs[j - 1];
            runs[j - 1] = swap;
        }
    printf("explain_response: %d bytes, %zu objects, %d levels, %zu bytes of text\n",
           BENCH_RESPONSE_SIZE, objects, EXPLAIN_DEPTH_MAX, count.bytes);
    printf("%d runs: median %.2f ms, worst %.2f ms\n", BENCH_RUNS,
           (runs[BENCH_RUNS / 2 - 1] + runs[BENCH_RUNS / 2]) / 2, runs[BENCH_RUNS - 1]);
    return 0;
}
