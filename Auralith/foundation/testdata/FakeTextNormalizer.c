/* A stand-in for the native inverse-text-normalisation library. Each
   function wraps its input in a mark of its own, so a test sees which
   function ran and exactly what it received. An input containing "null" gets
   a null result; "latin1" gets text that is not UTF-8. Built three ways: with
   every function (FAKE_ITN_FREE and FAKE_ITN_OPTIONAL), with the three
   required ones only (FAKE_ITN_FREE), and without the free function. */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char* wrap(const char* mark, const char* text) {
    if (strstr(text, "null")) return NULL;
    if (strstr(text, "latin1")) {
        char* out = malloc(8);
        strcpy(out, "caf\xE9!");
        return out;
    }
    size_t size = strlen(mark) + strlen(text) + 3;
    char* out = malloc(size);
    snprintf(out, size, "%s(%s)", mark, text);
    return out;
}

char* nemo_normalize(const char* text) { return wrap("N", text); }

const char* nemo_version(void) { return "fake-itn 1.2"; }

#ifdef FAKE_ITN_FREE
static int freed = 0;
void nemo_free_string(char* text) {
    free(text);
    ++freed;
}
int fake_itn_freed_count(void) { return freed; }
#endif

#ifdef FAKE_ITN_OPTIONAL
char* nemo_normalize_sentence(const char* text) { return wrap("S", text); }

char* nemo_normalize_sentence_with_max_span(const char* text, uint32_t span) {
    char mark[24];
    snprintf(mark, sizeof mark, "M%u", (unsigned)span);
    return wrap(mark, text);
}

enum { kMaxRules = 16 };
static char* patterns[kMaxRules];
static uint32_t count = 0;

void nemo_add_rule(const char* pattern, const char* replacement) {
    (void)replacement;
    if (count < kMaxRules) patterns[count++] = strdup(pattern);
}

int32_t nemo_remove_rule(const char* pattern) {
    for (uint32_t i = 0; i < count; ++i) {
        if (strcmp(patterns[i], pattern) != 0) continue;
        free(patterns[i]);
        patterns[i] = patterns[--count];
        return 1;
    }
    return 0;
}

void nemo_clear_rules(void) {
    while (count > 0) free(patterns[--count]);
}

uint32_t nemo_rule_count(void) { return count; }
#endif
