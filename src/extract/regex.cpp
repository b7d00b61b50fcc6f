#define PCRE2_CODE_UNIT_WIDTH 8
#include "extract/regex.hpp"

#include <pcre2.h>

#include <cstdint>
#include <mutex>

#include "extract/lenient_utf8.hpp"
#include "extract/start_literals.hpp"

namespace extract {

namespace {

std::string pcre2Message(int code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0)
        return "regular expression error " + std::to_string(code);
    return reinterpret_cast<const char*>(buffer);
}

constexpr std::uint32_t matchLimit = 20000000;

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct JitStackDeleter {
    void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};

// Per thread: the match context with the limits and a JIT stack large enough
// for long pages.
struct ThreadMatchState {
    std::unique_ptr<pcre2_jit_stack, JitStackDeleter> stack{
        pcre2_jit_stack_create(64 * 1024, 64 * 1024 * 1024, nullptr)};
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> context{
        pcre2_match_context_create(nullptr)};

    ThreadMatchState() {
        if (!context) throw std::bad_alloc();
        pcre2_set_match_limit(context.get(), matchLimit);
        if (stack) pcre2_jit_stack_assign(context.get(), nullptr, stack.get());
    }
};

pcre2_match_context* matchContext() {
    thread_local ThreadMatchState matching;
    return matching.context.get();
}

}  // namespace

struct EcmaRegex::Compiled {
    std::unique_ptr<pcre2_code, CodeDeleter> compiled;
    std::uint32_t captures = 0;
    // Where the pattern starts with a group of words: the words, and the same
    // pattern anchored, run only where one of them lets a match start.
    std::vector<detail::StartLiteral> starts;
    std::unique_ptr<pcre2_code, CodeDeleter> anchored;
    // Machine code is made at the first search: most expressions of a large
    // plugin set wait long for their first page, and many never see one.
    std::once_flag jit;
};

EcmaRegex::EcmaRegex(const std::string& pattern)
    : pattern_(pattern), translated_(translateEcmaPattern(pattern)), code_(new Compiled) {
    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context) throw std::bad_alloc();
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_compile_extra_options(context.get(), PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL);
    int error = 0;
    PCRE2_SIZE offset = 0;
    const std::uint32_t options = PCRE2_UTF | PCRE2_NO_UTF_CHECK | PCRE2_ALLOW_EMPTY_CLASS |
                                  PCRE2_DOLLAR_ENDONLY | PCRE2_MATCH_UNSET_BACKREF |
                                  PCRE2_NEVER_BACKSLASH_C;
    code_->compiled.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated_.data()),
                                        translated_.size(), options, &error, &offset,
                                        context.get()));
    if (!code_->compiled) throw std::runtime_error(pcre2Message(error) + " in " + pattern);
    code_->starts = detail::startLiterals(pattern);
    if (!code_->starts.empty()) {
        code_->anchored.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated_.data()),
                                            translated_.size(), options | PCRE2_ANCHORED, &error,
                                            &offset, context.get()));
        if (!code_->anchored) code_->starts.clear();
    }
    pcre2_pattern_info(code_->compiled.get(), PCRE2_INFO_CAPTURECOUNT, &code_->captures);
}

EcmaRegex::~EcmaRegex() = default;

std::size_t EcmaRegex::groups() const { return code_->captures; }

bool isValidUtf8(std::string_view text) { return detail::validPrefix(text) == text.size(); }

bool EcmaRegex::search(std::string_view text, bool checked, bool all, RawVisitor visit,
                       void* context) const {
    // Without JIT (unsupported platform) the interpreter does the same work.
    std::call_once(code_->jit, [this] {
        pcre2_jit_compile(code_->compiled.get(), PCRE2_JIT_COMPLETE);
        if (code_->anchored) pcre2_jit_compile(code_->anchored.get(), PCRE2_JIT_COMPLETE);
    });
    const detail::MatchSubject prepared(text, checked);
    std::string_view s = prepared.mapped();
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create_from_pattern(code_->compiled.get(), nullptr));
    if (!data) throw std::bad_alloc();
    pcre2_match_context* mcontext = matchContext();
    RegexMatch match;
    match.groups.resize(code_->captures + 1);
    bool found = false;
    std::size_t position = 0;
    const bool byWords = !code_->starts.empty();
    detail::StartFinder starts(code_->starts, s);
    auto nextCharacter = [&s](std::size_t at) {
        ++at;
        while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) ++at;
        return at;
    };
    while (position <= s.size()) {
        int rc;
        if (byWords) {
            // Only where a start word allows a match; the anchored pattern
            // there finds what the plain search would find first.
            std::size_t at = starts.next(position);
            if (at == std::string_view::npos) break;
            rc = pcre2_match(code_->anchored.get(), reinterpret_cast<PCRE2_SPTR>(s.data()),
                             s.size(), at, PCRE2_NO_UTF_CHECK, data.get(), mcontext);
            if (rc == PCRE2_ERROR_NOMATCH) {
                position = nextCharacter(at);
                continue;
            }
        } else {
            rc = pcre2_match(code_->compiled.get(), reinterpret_cast<PCRE2_SPTR>(s.data()),
                             s.size(), position, PCRE2_NO_UTF_CHECK, data.get(), mcontext);
        }
        if (rc == PCRE2_ERROR_NOMATCH) break;
        if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
            rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT)
            throw MatchLimitError("Matching " + pattern_ + " gave up: " + pcre2Message(rc));
        if (rc < 0)
            throw std::runtime_error("Matching " + pattern_ + " failed: " + pcre2Message(rc));
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
        std::uint32_t pairs = pcre2_get_ovector_count(data.get());
        for (std::size_t g = 0; g < match.groups.size(); ++g) {
            if (g >= pairs || ovector[2 * g] == PCRE2_UNSET)
                match.groups[g] = std::string_view();
            else
                match.groups[g] = prepared.slice(ovector[2 * g], ovector[2 * g + 1]);
        }
        std::size_t start = ovector[0], end = ovector[1];
        match.before = text.substr(0, prepared.original(start));
        match.after = text.substr(prepared.original(end));
        found = true;
        visit(context, match);
        if (!all) break;
        if (end > start) {
            position = end;
        } else {
            if (end >= s.size()) break;
            // Step past the empty match by one whole character.
            position = nextCharacter(end);
        }
    }
    return found;
}

}  // namespace extract
