/*
 * script_source.cpp: where the interpreter's lines come from: the script,
 * the files it includes and the blocks it repeats, on a stack (see
 * script_local.h), with one line of look-ahead for continued commands.
 *
 * A block is read into memory when its "/REPEAT" line runs, up to the
 * "/END" that closes it (blocks inside it included), since a script read
 * from standard input cannot be read twice. A block that cannot be read
 * whole does not run, and its failure counts as a failed check.
 */
#include "script/script_local.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "app/platform.h"
#include "app/text_form.h"

static ScriptSource *source_top(ScriptRun *run) {
    return run->depth > 0 ? &run->sources[run->depth - 1] : 0;
}

/* A new source on the stack, cleared; 0 when the stack is full. */
static ScriptSource *source_push(ScriptRun *run, int kind) {
    if (run->depth >= SCRIPT_SOURCES_MAX)
        return 0;
    ScriptSource *source = &run->sources[run->depth++];
    source->kind = kind;
    source->file = 0;
    source->owned = 0;
    source->text = 0;
    source->text_length = source->text_at = 0;
    source->line_number = source->mid_line = 0;
    memset(&source->block, 0, sizeof source->block);
    source->block_at = 0;
    source->rounds = source->round = 0;
    source->name[0] = 0;
    source->path[0] = 0;
    source->round_name[0] = 0;
    return source;
}

static void source_pop(ScriptRun *run) {
    ScriptSource *source = source_top(run);

    if (!source)
        return;
    if (source->file && source->owned)
        fclose(source->file);
    text_buffer_free(&source->block);
    run->depth--;
}

int script_source_open(ScriptRun *run) {
    ScriptSource *source = source_push(run, SCRIPT_SOURCE_FILE);
    ScriptTally *tally = run->tally;

    snprintf(source->path, sizeof source->path, "%s", run->path);
    if (tally && tally->input_text) {
        source->text = tally->input_text;
        source->text_length = tally->input_length;
        return 1;
    }
    source->file = tally && tally->input ? tally->input : platform_file_open(run->path, "rt");
    source->owned = !(tally && tally->input);
    if (source->file)
        return 1;
    run->depth = 0;
    return 0;
}

void script_sources_close(ScriptRun *run) {
    while (run->depth > 0)
        source_pop(run);
}

/* The next line of a file source into line, with its number; -1 at its end. */
static int source_read_file(ScriptSource *source, char *line, int size, int *number) {
    int length = source->text ? script_text_read(source->text, source->text_length,
                                                 &source->text_at, line, size)
                              : script_line_read(source->file, line, size);
    if (length < 0)
        return -1;
    /* a piece of an overlong line keeps that line's number */
    if (!source->mid_line)
        source->line_number++;
    source->mid_line = line[length - 1] != '\n';
    *number = source->line_number;
    return script_line_chomp(line, length);
}

/* The next line of a block's round into line; -1 at the round's end. */
static int source_read_block(ScriptSource *source, char *line, int size, int *number) {
    if (source->block_at >= source->block.used)
        return -1;
    const char *at = source->block.text + source->block_at;
    memcpy(number, at, sizeof *number);
    size_t length = strlen(at + sizeof *number);
    if (length >= (size_t)size)
        length = (size_t)size - 1;
    memcpy(line, at + sizeof *number, length);
    line[length] = 0;
    source->block_at += sizeof *number + strlen(at + sizeof *number) + 1;
    return (int)length;
}

static int source_read(ScriptSource *source, char *line, int size, int *number) {
    if (source->kind == SCRIPT_SOURCE_BLOCK)
        return source_read_block(source, line, size, number);
    return source_read_file(source, line, size, number);
}

/* The rounds running, outer first, as "2.1"; "" outside blocks. */
static void source_rounds(const ScriptRun *run, char *text, size_t size) {
    size_t used = 0;

    text[0] = 0;
    for (int i = 0; i < run->depth && used < size; i++) {
        if (run->sources[i].kind != SCRIPT_SOURCE_BLOCK)
            continue;
        int n = snprintf(text + used, size - used, "%s%d", used ? "." : "", run->sources[i].round);
        used += n > 0 ? (size_t)n : 0;
    }
}

/* from into to (size bytes, terminated), by the text's length: a line
   copies a line and a place once each, not their buffers' 3 KB. */
static void source_text_copy(char *to, const char *from, size_t size) {
    size_t length = strnlen(from, size - 1);
    memcpy(to, from, length);
    to[length] = 0;
}

int script_read_ahead(ScriptRun *run) {
    ScriptSource *source = source_top(run);

    if (run->ahead)
        return 1;
    if (!source ||
        source_read(source, run->ahead_line, sizeof run->ahead_line, &run->ahead_place.number) < 0)
        return 0;
    source_text_copy(run->ahead_place.name, source->name, sizeof run->ahead_place.name);
    source_rounds(run, run->ahead_place.round, sizeof run->ahead_place.round);
    run->ahead = 1;
    return 1;
}

/* Gives the round's value its number: one byte for up to 255 rounds, two
   bytes (high first) for more. */
static void source_round_value(ScriptRun *run, const ScriptSource *source) {
    unsigned char number[2] = {(unsigned char)(source->round >> 8), (unsigned char)source->round};
    char message[SCRIPT_VALUE_MESSAGE_SIZE];
    int two = source->rounds > 255;

    if (source->round_name[0] && !script_value_set(run->values, source->round_name, number + !two,
                                                   1 + two, message, sizeof message))
        script_check_done(run, message);
}

/* The top source has no line left: a block starts its next round, any
   other source ends. 0 when the script itself has ended. */
static int source_next(ScriptRun *run) {
    ScriptSource *source = source_top(run);

    if (source->kind == SCRIPT_SOURCE_BLOCK && source->round < source->rounds) {
        source->round++;
        source->block_at = 0;
        source_round_value(run, source);
        return 1;
    }
    source_pop(run);
    return run->depth > 0;
}

int script_next_line(ScriptRun *run) {
    while (!script_read_ahead(run)) {
        if (run->depth == 0 || !source_next(run))
            return 0;
    }
    source_text_copy(run->line, run->ahead_line, sizeof run->line);
    source_text_copy(run->place.name, run->ahead_place.name, sizeof run->place.name);
    source_text_copy(run->place.round, run->ahead_place.round, sizeof run->place.round);
    run->place.number = run->ahead_place.number;
    run->ahead = 0;
    run->chain = 0;
    return 1;
}

void script_place_text(const ScriptPlace *place, char *text, size_t size) {
    char round[64] = "";

    if (place->round[0])
        snprintf(round, sizeof round, " round %s", place->round);
    if (place->name[0])
        snprintf(text, size, "%.40s line %d%s", place->name, place->number, round);
    else
        snprintf(text, size, "line %d%s", place->number, round);
}

/* ---- /INCLUDE ---- */

/* The text after a directive's word, blanks trimmed on both sides. */
static void source_argument(const char *line, size_t word, char *out, size_t size) {
    const char *at = line + word;
    while (*at == ' ' || *at == '\t')
        at++;
    size_t length = strlen(at);
    while (length > 0 && (at[length - 1] == ' ' || at[length - 1] == '\t'))
        length--;
    if (length >= size)
        length = size - 1;
    memcpy(out, at, length);
    out[length] = 0;
}

int script_path_beside(const ScriptRun *run, const char *name, char *path, size_t size) {
    const char *including = run->sources[run->depth - 1].path;
    size_t folder = strlen(including);
    int absolute = name[0] == '/' || name[0] == '\\' || (name[0] && name[1] == ':');

    while (folder > 0 && including[folder - 1] != '/' && including[folder - 1] != '\\')
        folder--;
    if (absolute)
        folder = 0;
    int written = snprintf(path, size, "%.*s%s", (int)folder, including, name);
    return written > 0 && (size_t)written < size;
}

/* Why the file cannot be included, or 0. */
static const char *source_include_refused(const ScriptRun *run, const char *path) {
    int files = 0;

    for (int i = 0; i < run->depth; i++) {
        if (run->sources[i].kind != SCRIPT_SOURCE_FILE)
            continue;
        files++;
        if (strcmp(run->sources[i].path, path) == 0)
            return "it includes itself";
    }
    if (files > SCRIPT_INCLUDE_DEPTH)
        return "more than 8 levels of includes";
    if (!platform_file_regular(path))
        return "no such regular file";
    return 0;
}

void script_do_include(ScriptRun *run) {
    char name[SCRIPT_FILE_NAME_SIZE];
    char path[SCRIPT_FILE_NAME_SIZE];
    char message[SCRIPT_FILE_NAME_SIZE + 64];
    const char *refused = 0;
    FILE *file = 0;

    source_argument(run->line, strlen("/INCLUDE"), name, sizeof name);
    if (!name[0] || !script_path_beside(run, name, path, sizeof path))
        refused = "no such regular file";
    if (!refused)
        refused = source_include_refused(run, path);
    if (!refused && !(file = platform_file_open(path, "rt")))
        refused = "it cannot be opened";
    ScriptSource *source = refused ? 0 : source_push(run, SCRIPT_SOURCE_FILE);
    if (!source) {
        if (file)
            fclose(file);
        snprintf(message, sizeof message, "cannot include %s: %s", name,
                 refused ? refused : "more than 8 levels of includes");
        script_check_done(run, message);
        return;
    }
    source->file = file;
    source->owned = 1;
    snprintf(source->name, sizeof source->name, "%s", name);
    snprintf(source->path, sizeof source->path, "%s", path);
}

/* ---- /REPEAT ... /END ---- */

/* "/REPEAT COUNT [NAME]": the count (decimal, or a value read high byte
   first) and the name. 0 with the reason when the line cannot be read. */
static int source_repeat_parse(ScriptRun *run, int *count, char *name, char *message, size_t size) {
    const char *at = run->line + strlen("/REPEAT");
    ScriptReference reference;
    const unsigned char *bytes = 0;
    unsigned char small[2];
    int length = 0, value = 0;

    while (*at == ' ' || *at == '\t')
        at++;
    int taken = script_reference_read(at, &reference);
    if (taken > 0) {
        if (!script_reference_bytes(run->values, &reference, &bytes, &length, small, message, size))
            return 0;
        for (int i = 0; i < length && value <= SCRIPT_REPEAT_MAX; i++)
            value = value * 256 + bytes[i];
    } else if (*at >= '0' && *at <= '9') {
        const char *end = decimal_scan(at, &value);
        taken = (int)(end - at);
    }
    if (taken == 0 || value > SCRIPT_REPEAT_MAX) {
        snprintf(message, size, "repeat count not 0 to %d", SCRIPT_REPEAT_MAX);
        return 0;
    }
    at += taken;
    char word[SCRIPT_VALUE_NAME_SIZE + 2];
    source_argument(at, 0, word, sizeof word);
    if (word[0] && !script_value_name_ok(word, (int)strlen(word))) {
        snprintf(message, size, "cannot read the repeat");
        return 0;
    }
    snprintf(name, SCRIPT_VALUE_NAME_SIZE, "%s", word);
    *count = value;
    return 1;
}

/* Appends one line to a block being read; 0 when memory runs out. */
static int source_block_add(ScriptSource *block, int number, const char *line) {
    return text_buffer_add(&block->block, &number, sizeof number) &&
           text_buffer_add(&block->block, line, strlen(line) + 1);
}

/* Reads the block up to the "/END" that closes it into block (when given).
   0 with the reason when there is none, it is too long, or memory runs out;
   the lines read are consumed either way. */
static int source_block_read(ScriptRun *run, ScriptSource *from, ScriptSource *block, char *message,
                             size_t size) {
    int nested = 0, lines = 0, fits = 1, number = 0;
    char *line = run->ahead_line; /* free: the "/REPEAT" line was taken from it */

    while (source_read(from, line, SCRIPT_LINE_SIZE, &number) >= 0) {
        ScriptLineKind kind = script_line_classify(line);
        if (kind == SCRIPT_LINE_END && nested-- == 0)
            break;
        if (kind == SCRIPT_LINE_REPEAT)
            nested++;
        if (++lines > SCRIPT_BLOCK_LINES_MAX)
            fits = 0;
        else if (block && fits)
            fits = source_block_add(block, number, line);
    }
    if (nested >= 0)
        snprintf(message, size, "/REPEAT without /END");
    else if (!fits)
        snprintf(message, size, "/REPEAT block longer than %d lines", SCRIPT_BLOCK_LINES_MAX);
    return nested < 0 && fits;
}

static int source_blocks(const ScriptRun *run) {
    int blocks = 0;

    for (int i = 0; i < run->depth; i++)
        blocks += run->sources[i].kind == SCRIPT_SOURCE_BLOCK;
    return blocks;
}

/* The block is read (consumed) whether or not it can run. */
void script_do_repeat(ScriptRun *run) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];
    char reason[SCRIPT_VALUE_MESSAGE_SIZE];
    char name[SCRIPT_VALUE_NAME_SIZE];
    int count = 0;
    ScriptSource *from = source_top(run);
    int readable = source_repeat_parse(run, &count, name, message, sizeof message);
    int deep = source_blocks(run) >= SCRIPT_REPEAT_DEPTH;
    ScriptSource *block = readable && !deep ? source_push(run, SCRIPT_SOURCE_BLOCK) : 0;
    int whole = source_block_read(run, from, block, reason, sizeof reason);

    if (!readable || deep || !whole) {
        if (block)
            source_pop(run);
        if (readable && deep)
            snprintf(message, sizeof message, "more than %d nested repeats", SCRIPT_REPEAT_DEPTH);
        else if (readable)
            snprintf(message, sizeof message, "%s", reason);
        script_check_done(run, message);
        return;
    }
    if (count == 0) {
        source_pop(run);
        return;
    }
    snprintf(block->name, sizeof block->name, "%s", from->name);
    snprintf(block->path, sizeof block->path, "%s", from->path);
    snprintf(block->round_name, sizeof block->round_name, "%s", name);
    block->rounds = count;
    block->round = 1;
    source_round_value(run, block);
}

void script_do_end(ScriptRun *run) {
    script_check_done(run, "/END without /REPEAT");
}
