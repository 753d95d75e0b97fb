// Alters the code of a built program for the self-check tests: finds functions by name in the
// program's symbol table and overwrites their first bytes, as a damaged disk or a careless patch
// would (32-bit and 64-bit ELF files); and starts programs the ways a hostile caller could.
#pragma once

#include <cstring>
#include <elf.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace altered_program_detail {

// The offset in the file of the loaded address address, from the program's loadable segments;
// 0 when no segment holds it.
template <typename Header, typename Segment>
size_t file_offset(const std::string& program, uint64_t address) {
    Header header;
    memcpy(&header, program.data(), sizeof header);
    if (header.e_phoff + sizeof(Segment) * header.e_phnum > program.size()) return 0;
    for (size_t i = 0; i < header.e_phnum; ++i) {
        Segment segment;
        memcpy(&segment, program.data() + header.e_phoff + i * sizeof segment, sizeof segment);
        if (segment.p_type != PT_LOAD || address < segment.p_vaddr) continue;
        if (address - segment.p_vaddr >= segment.p_filesz) continue;
        return size_t(address - segment.p_vaddr + segment.p_offset);
    }
    return 0;
}

// Overwrites the start of every function of program whose name contains one of names, found in
// the symbol table of symbols (the program itself, or its separate debugging file); returns how
// many.
template <typename Header, typename Segment, typename Section, typename Symbol,
          unsigned char (*type_of)(unsigned char)>
int patch(std::string& program, const std::string& symbols, const std::vector<std::string>& names,
          const std::string& code) {
    if (program.size() < sizeof(Header) || symbols.size() < sizeof(Header)) return 0;
    Header header;
    memcpy(&header, symbols.data(), sizeof header);
    std::vector<Section> sections(header.e_shnum);
    if (header.e_shoff + sizeof(Section) * header.e_shnum > symbols.size()) return 0;
    memcpy(sections.data(), symbols.data() + header.e_shoff, sizeof(Section) * header.e_shnum);
    int patched = 0;
    for (const Section& table : sections) {
        if (table.sh_type != SHT_SYMTAB || table.sh_link >= sections.size()) continue;
        const Section& strings = sections[table.sh_link];
        for (size_t at = table.sh_offset; at + sizeof(Symbol) <= table.sh_offset + table.sh_size;
             at += sizeof(Symbol)) {
            Symbol symbol;
            memcpy(&symbol, symbols.data() + at, sizeof symbol);
            if (type_of(symbol.st_info) != STT_FUNC || symbol.st_value == 0) continue;
            if (symbol.st_size < code.size()) continue;
            std::string name(symbols.c_str() + strings.sh_offset + symbol.st_name);
            bool wanted = false;
            for (const std::string& part : names) wanted |= name.find(part) != std::string::npos;
            if (!wanted) continue;
            size_t offset = file_offset<Header, Segment>(program, symbol.st_value);
            if (offset == 0 || offset + code.size() > program.size()) continue;
            program.replace(offset, code.size(), code);
            ++patched;
        }
    }
    return patched;
}

inline unsigned char type32(unsigned char info) {
    return ELF32_ST_TYPE(info);
}
inline unsigned char type64(unsigned char info) {
    return ELF64_ST_TYPE(info);
}

} // namespace altered_program_detail

// Machine code to put at a function's start: an undefined instruction (the processor raises an
// illegal-instruction fault), a jump to itself (the function never returns) and a breakpoint
// (the processor raises a breakpoint trap); the same bytes on 32-bit and 64-bit x86.
const std::string illegal_instruction = "\x0f\x0b";
const std::string endless_loop = "\xeb\xfe";
const std::string breakpoint = "\xcc";

// The symbol table of the program at path: its separate debugging file PATH.debug where the
// build left one (the running copy keeps no symbols), else the program itself.
inline std::string symbols_of(const std::string& path) {
    std::string debug = read_file(path + ".debug");
    return debug.empty() ? read_file(path) : debug;
}

// Makes the integrity trailer at the end of program (48 bytes: a line end, "integrity-md5:", 32
// hexadecimal digits, a line end) record the digest of the bytes before it again, as the build's
// stamping does, so that an altered copy passes the comparison of digests and only what the
// alteration itself does can bring a refusal. Returns false when md5sum could not digest them.
inline bool restamp(std::string& program) {
    const size_t trailer_size = 48;
    if (program.size() < trailer_size) return false;
    scratch_dir dir;
    std::string body = dir.write("body", program.substr(0, program.size() - trailer_size));
    run_result r = run_program("/usr/bin/md5sum", {body});
    if (r.status != 0 || r.out.size() < 32) return false;
    program.replace(program.size() - 33, 32, r.out.substr(0, 32));
    return true;
}

// Overwrites the start of every function of program whose name contains one of names with code,
// taking their addresses from symbols (see symbols_of); returns how many functions were changed
// (0 when there is no symbol table).
inline int alter_functions(std::string& program, const std::string& symbols,
                           const std::vector<std::string>& names, const std::string& code) {
    using namespace altered_program_detail;
    if (program.size() < EI_NIDENT || program.compare(0, SELFMAG, ELFMAG) != 0) return 0;
    if (program[EI_CLASS] == ELFCLASS32) {
        return patch<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr, Elf32_Sym, type32>(program, symbols, names,
                                                                            code);
    }
    return patch<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr, Elf64_Sym, type64>(program, symbols, names,
                                                                        code);
}

// Runs command[0] with the other elements as arguments.
inline run_result run_command(const std::vector<std::string>& command) {
    return run_program(command[0], std::vector<std::string>(command.begin() + 1, command.end()));
}

// A command that runs program with args and first argument vector entry argv0, as a shell's
// `exec -a` does.
inline std::vector<std::string> started_as(const std::string& argv0, const std::string& program,
                                           const std::vector<std::string>& args) {
    std::vector<std::string> command = {"/bin/bash", "-c", "exec -a \"$0\" \"$@\"", argv0, program};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// command, run so that files without read permission cannot be read: as it is for an ordinary
// user, and for root without the capabilities that override file permissions. Empty when that
// cannot be arranged here.
inline std::vector<std::string> without_read_override(std::vector<std::string> command) {
    if (getuid() != 0) return command;
    const char* setpriv = "/usr/bin/setpriv";
    if (access(setpriv, X_OK) != 0) return {};
    command.insert(command.begin(), {setpriv, "--bounding-set=-dac_override,-dac_read_search"});
    return command;
}

// True when an execute-only copy of a program can run here at all, shown by its refusal (status
// 126) when started under its own name: where an emulator runs programs of another processor,
// the emulator itself must read the file, and fails first.
inline bool execute_only_runs(const std::string& unreadable_copy, const std::string& argument) {
    std::vector<std::string> command = without_read_override({unreadable_copy, argument});
    return !command.empty() && run_command(command).status == 126;
}

// A command that runs program where /proc is hidden (a private mount namespace with an empty
// /proc), started as argv0. Empty when that cannot be arranged here: no user namespaces, or a
// program that cannot start without /proc (as a sanitizer build cannot).
inline std::vector<std::string> without_proc(const std::string& argv0, const std::string& program,
                                             const std::vector<std::string>& args) {
    if (run_program("/usr/bin/unshare", {"-r", "-m", "true"}).status != 0) return {};
    run_result probe = run_program(
        "/usr/bin/unshare", {"-r", "-m", "/bin/bash", "-c",
                             "mount -t tmpfs none /proc && exec \"$0\" --print-version", program});
    if (probe.status != 0) return {};
    std::vector<std::string> command = {"/usr/bin/unshare",
                                        "-r",
                                        "-m",
                                        "/bin/bash",
                                        "-c",
                                        "mount -t tmpfs none /proc && exec -a \"$0\" \"$@\"",
                                        argv0,
                                        program};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// The functions that compute the digest during the check (with the scalar kernel, chosen by no
// measurement); altering any one of them must still end in the refusal.
const std::vector<std::string> digest_functions = {"selfcheck_digest_prefix", "selfcheck_verify_fd",
                                                   "md5_update_scalar", "md5_final_scalar"};

// One way to alter the code the check runs: what to write at the start of which functions.
struct fault_case {
    const char* what;
    const std::string* code;
    std::vector<std::string> functions;
};

// The faults and the hang that the check's guard must turn into the refusal, in the code that
// computes the digest.
inline const fault_case digest_faults[] = {
    {"illegal instruction", &illegal_instruction, digest_functions},
    {"endless loop", &endless_loop, digest_functions},
    {"breakpoint in md5_update_scalar", &breakpoint, {"md5_update_scalar"}},
    {"breakpoint in md5_blocks_scalar", &breakpoint, {"md5_blocks_scalar"}},
};
