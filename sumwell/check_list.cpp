// The check mode. A list is read with read() into one fixed buffer and split into lines, which
// check_line.cpp reads; the lines that name files are gathered into a chunk (names, digests, and
// the malformed lines met between them), and each chunk goes through the files in flight, whose
// writing thread hands every result to check_result in list order. Memory is the chunk's and the
// line's, whatever the length of the list or of its lines.
#include "sumwell/check_list.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"
#include "selfcheck/file_io.h"
#include "sumwell/file_steps.h"
#include "sumwell/in_flight.h"

namespace {

// Files, and bytes of their names, that one chunk holds at most: a chunk keeps every lane busy
// for a while (the files in flight look no further ahead than 4,096 files) and stays small.
constexpr size_t chunk_files = 4096;
constexpr size_t chunk_name_bytes = 1024 * 1024;
// Malformed lines one chunk notes (for --warn's messages in list order) before it is checked.
constexpr size_t chunk_malformed = 4096;
// Bytes read from a list at a time.
constexpr size_t read_size = 64 * 1024;

// What the end of a list reports: each count's message, one line and more than one.
struct count_text {
    const char* one;
    const char* many;
};
enum { COUNT_MALFORMED, COUNT_UNREADABLE, COUNT_MISMATCHED, COUNT_KINDS };
constexpr count_text count_texts[COUNT_KINDS] = {
    {.one = "line is improperly formatted", .many = "lines are improperly formatted"},
    {.one = "listed file could not be read", .many = "listed files could not be read"},
    {.one = "computed checksum did NOT match", .many = "computed checksums did NOT match"},
};

// The name md5sum gives standard input in its messages; sumwell's messages use it too.
constexpr char stdin_name[] = "standard input";

// One file of a chunk: where its name starts in the chunk's names, its digest, and how many of
// the chunk's malformed lines come before it.
struct chunk_file {
    size_t name_at;
    uint8_t digest[16];
    size_t malformed_before;
};

// The list being checked and what it has found so far.
struct list_check {
    const check_settings* settings;
    const char* name; // as messages name it
    bool from_stdin;
    uint64_t line_number;
    uint64_t counts[COUNT_KINDS];
    bool formed;  // some line named a file
    bool matched; // some file matched
};

// The lines gathered for one run of the files in flight.
struct chunk {
    chunk_file files[chunk_files];
    char* paths[chunk_files];
    size_t file_count;
    char names[chunk_name_bytes];
    size_t name_bytes;
    uint64_t malformed[chunk_malformed]; // their line numbers
    size_t malformed_count;
    size_t warned; // malformed lines reported so far
    list_check* list;
};

// Where the check reads the name "-" from when a list other than standard input names it.
char stdin_path[] = "/dev/stdin";

// Writes text to err after flushing out, so that both keep their order in one file. Returns 0,
// or the errno value of a failed flush of out.
[[gnu::format(printf, 3, 4)]] int message(FILE* out, FILE* err, const char* format, ...) {
    int error = fflush(out) == 0 ? 0 : errno_or_eio();
    va_list arguments;
    va_start(arguments, format);
    fputs("Error! ", err);
    vfprintf(err, format, arguments);
    va_end(arguments);
    return error;
}

// Reports, with --warn, the chunk's malformed lines up to the until-th.
int warn_malformed(chunk* c, size_t until, FILE* out, FILE* err) {
    int error = 0;
    for (; c->warned < until; ++c->warned) {
        if (!c->list->settings->warn) continue;
        int e = message(out, err, "%s: %llu: improperly formatted MD5 checksum line\n",
                        c->list->name, static_cast<unsigned long long>(c->malformed[c->warned]));
        if (error == 0) error = e;
    }
    return error;
}

// Writes name as md5sum -c does: as it is, or, when it holds a line feed, after a backslash
// with its backslashes and line feeds escaped, so that the line stays one line.
void write_name(const char* name, FILE* out) {
    if (strchr(name, '\n') == nullptr) {
        fputs(name, out);
        return;
    }
    putc('\\', out);
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '\n') {
            fputs("\\n", out);
        } else if (*p == '\\') {
            fputs("\\\\", out);
        } else {
            putc(*p, out);
        }
    }
}

// True when an outcome too small to sum is an empty regular file read whole, whose digest the
// check then compares like any other (a sum run refuses it as too small).
bool empty_file(const file_outcome& outcome, const char* path, uint32_t tail) {
    struct stat info;
    return outcome.kind == OUTCOME_TOO_SMALL && tail == 0 && stat(path, &info) == 0 &&
           S_ISREG(info.st_mode) && info.st_size == 0;
}

// The files in flight's report: checks file index of the chunk at context against its
// digest, writes its line and counts it. Returns 0, or the errno value of a failed write to out.
int check_result(void* context, uint64_t index, const file_outcome& outcome, FILE* out, FILE* err) {
    chunk* c = static_cast<chunk*>(context);
    list_check* list = c->list;
    const check_settings& s = *list->settings;
    const chunk_file& f = c->files[index];
    const char* name = c->names + f.name_at;
    int error = warn_malformed(c, f.malformed_before, out, err);
    file_outcome result = outcome;
    if (empty_file(outcome, c->paths[index], s.tail)) {
        md5_message empty = {nullptr, 0, {}};
        md5_digest_batch(&empty, 1);
        result.kind = OUTCOME_DIGEST;
        memcpy(result.digest, empty.digest, sizeof result.digest);
    }
    const char* verdict = nullptr;
    if (result.kind != OUTCOME_DIGEST) {
        bool missing =
            (result.kind == OUTCOME_STAT || result.kind == OUTCOME_OPEN) && result.error == ENOENT;
        if (s.ignore_missing && missing) return error;
        int e = write_outcome(result, name, out, err);
        if (error == 0) error = e;
        ++list->counts[COUNT_UNREADABLE];
        verdict = "FAILED open or read";
    } else if (memcmp(result.digest, f.digest, sizeof f.digest) == 0) {
        list->matched = true;
        if (!s.quiet) verdict = "OK";
    } else {
        ++list->counts[COUNT_MISMATCHED];
        verdict = "FAILED";
    }
    if (s.status || verdict == nullptr) return error;
    write_name(name, out);
    if (fprintf(out, ": %s\n", verdict) < 0 && error == 0) error = errno_or_eio();
    return error;
}

// Checks the files gathered in c and empties it. Returns 0, or the errno value of a failed
// write to out.
int check_chunk(chunk* c, FILE* out, FILE* err) {
    file_list files{c->file_count, c->paths, nullptr, nullptr, check_result, c};
    const check_settings& s = *c->list->settings;
    int error = sum_in_flight(files, s.tail, s.threads, out, err);
    if (error == 0) error = warn_malformed(c, c->malformed_count, out, err);
    c->file_count = 0;
    c->name_bytes = 0;
    c->malformed_count = 0;
    c->warned = 0;
    return error;
}

// Takes one line of the list (length bytes and one spare byte at line; overlong: the line
// went on past what line holds) into the chunk, checking the chunk first when it is full.
// Returns 0, or the errno value of a failed write to out.
int take_line(chunk* c, check_parser* parser, char* line, size_t length, bool overlong, FILE* out,
              FILE* err) {
    list_check* list = c->list;
    ++list->line_number;
    check_line parsed;
    int kind = overlong ? (line[0] == '#' ? CHECK_LINE_SKIPPED : CHECK_LINE_MALFORMED)
                        : parse_check_line(parser, line, length, list->from_stdin, &parsed);
    if (kind == CHECK_LINE_SKIPPED) return 0;
    size_t name_length = kind == CHECK_LINE_FILE ? strlen(parsed.name) + 1 : 0;
    bool full = c->file_count == chunk_files || c->malformed_count == chunk_malformed ||
                c->name_bytes + name_length > chunk_name_bytes;
    int error = full ? check_chunk(c, out, err) : 0;
    if (kind == CHECK_LINE_MALFORMED) {
        ++list->counts[COUNT_MALFORMED];
        c->malformed[c->malformed_count++] = list->line_number;
        return error;
    }
    list->formed = true;
    chunk_file& f = c->files[c->file_count];
    f.name_at = c->name_bytes;
    memcpy(f.digest, parsed.digest, sizeof f.digest);
    f.malformed_before = c->malformed_count;
    memcpy(c->names + c->name_bytes, parsed.name, name_length);
    c->paths[c->file_count] = strcmp(parsed.name, "-") == 0 ? stdin_path : c->names + f.name_at;
    c->name_bytes += name_length;
    ++c->file_count;
    return error;
}

// Reads the list at fd line by line into the chunk, checking each full chunk and the last.
// Returns 0, or the errno value of a failed write to out; *read_error is the errno value of a
// failed read of the list, or 0.
int read_list(int fd, chunk* c, check_parser* parser, FILE* out, FILE* err, int* read_error) {
    VT_LARGE_BUFFER static char buffer[read_size];
    VT_LARGE_BUFFER static char line[check_line_limit + 1];
    size_t length = 0;
    bool overlong = false;
    bool open_line = false; // bytes of a line without its line feed yet
    int error = 0;
    *read_error = 0;
    while (error == 0) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *read_error = errno;
            break;
        }
        if (n == 0) break;
        const char* p = buffer;
        const char* end = buffer + n;
        while (p < end && error == 0) {
            const char* feed = static_cast<const char*>(memchr(p, '\n', size_t(end - p)));
            const char* stop = feed != nullptr ? feed : end;
            size_t take = size_t(stop - p);
            if (length + take > check_line_limit) {
                // Keep the first byte (a comment's "#") and drop the rest.
                if (length == 0 && take > 0) line[length++] = *p;
                overlong = true;
            } else {
                memcpy(line + length, p, take);
                length += take;
            }
            open_line = true;
            p = stop;
            if (feed == nullptr) break;
            ++p;
            error = take_line(c, parser, line, length, overlong, out, err);
            length = 0;
            overlong = false;
            open_line = false;
        }
    }
    if (error == 0 && open_line) error = take_line(c, parser, line, length, overlong, out, err);
    if (error == 0) error = check_chunk(c, out, err);
    return error;
}

// Writes the counts at the end of a list, as md5sum -c does.
int report_counts(const list_check& list, FILE* out, FILE* err) {
    const check_settings& s = *list.settings;
    if (!list.formed) {
        return message(out, err, "%s: no properly formatted MD5 checksum lines found\n", list.name);
    }
    if (s.status) return 0;
    int error = 0;
    for (int k = 0; k < COUNT_KINDS; ++k) {
        uint64_t n = list.counts[k];
        if (n == 0) continue;
        int e = message(out, err, "%s: %llu %s\n", list.name, static_cast<unsigned long long>(n),
                        n == 1 ? count_texts[k].one : count_texts[k].many);
        if (error == 0) error = e;
    }
    if (s.ignore_missing && !list.matched) {
        int e = message(out, err, "%s: no file was verified\n", list.name);
        if (error == 0) error = e;
    }
    return error;
}

// Checks the list at path ("-": standard input) with c's memory. Returns true when it was read
// and every file it names matched; *write_error as check_lists.
bool check_list(const char* path, chunk* c, check_parser* parser, const check_settings& s,
                FILE* out, FILE* err, int* write_error) {
    list_check list = {};
    list.settings = &s;
    list.from_stdin = strcmp(path, "-") == 0;
    list.name = list.from_stdin ? stdin_name : path;
    c->list = &list;
    int fd = list.from_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *write_error = message(out, err, "open %s: %s\n", path, strerror(errno));
        return false;
    }
    int read_error;
    *write_error = read_list(fd, c, parser, out, err, &read_error);
    if (!list.from_stdin) close(fd);
    if (*write_error != 0) return false;
    if (read_error != 0) {
        *write_error = message(out, err, "read %s: %s\n", list.name, strerror(read_error));
        return false;
    }
    *write_error = report_counts(list, out, err);
    return list.formed && list.matched && list.counts[COUNT_MISMATCHED] == 0 &&
           list.counts[COUNT_UNREADABLE] == 0 && (!s.strict || list.counts[COUNT_MALFORMED] == 0);
}

} // namespace

int check_lists(int count, char* const* lists, const check_settings& settings, FILE* out, FILE* err,
                int* write_error) {
    *write_error = 0;
    chunk* c = static_cast<chunk*>(calloc(1, sizeof(chunk)));
    if (c == nullptr) {
        *write_error = message(out, err, "check: %s\n", strerror(ENOMEM));
        return 1;
    }
    check_parser parser;
    bool all_passed = true;
    for (int i = 0; i < count && *write_error == 0; ++i) {
        all_passed &= check_list(lists[i], c, &parser, settings, out, err, write_error);
    }
    free(c);
    return all_passed ? 0 : 1;
}
