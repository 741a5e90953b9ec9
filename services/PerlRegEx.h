// TPerlRegEx: one regular expression, one subject and the state of the last match, over
// PCRE2 with 16-bit code units. Every user owns its own object (none is shared between
// threads) and reuses it for many subjects; the pattern is compiled again only when the
// expression or the options change.
//
// Positions are 1-based, counted in UTF-16 code units of the subject. Patterns and
// subjects are UTF-16; a subject holding a lone surrogate (registry names may) simply does
// not match at that code unit instead of failing the search.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// PCRE2's handles (16-bit code units), declared here so that users need not see pcre2.h.
struct pcre2_real_code_16;
struct pcre2_real_match_data_16;
struct pcre2_real_compile_context_16;

namespace tidyhive {

// Compile options, one bit each, in declaration order.
enum TPerlRegExOption : unsigned {
    preCaseLess = 1u << 0,      // PCRE2_CASELESS
    preMultiLine = 1u << 1,     // PCRE2_MULTILINE
    preSingleLine = 1u << 2,    // PCRE2_DOTALL: "." matches line breaks too
    preExtended = 1u << 3,      // PCRE2_EXTENDED
    preAnchored = 1u << 4,      // PCRE2_ANCHORED
    preDollarEndOnly = 1u << 5, // PCRE2_DOLLAR_ENDONLY
    // Strict escapes: a backslash before a letter or digit with no meaning is an error.
    // Without it such an escape stands for the character itself (PCRE2's
    // EXTRA_BAD_ESCAPE_IS_LITERAL), as the classic library behaved.
    preExtra = 1u << 6,
    preUnGreedy = 1u << 7, // PCRE2_UNGREEDY
};
using TPerlRegExOptions = unsigned;

// Execution flags.
enum TPerlRegExMatchFlag : unsigned {
    preNotBOL = 1u << 0,   // PCRE2_NOTBOL
    preNotEOL = 1u << 1,   // PCRE2_NOTEOL
    preNotEmpty = 1u << 2, // PCRE2_NOTEMPTY
};
using TPerlRegExMatchFlags = unsigned;

// The options every engine object uses: case-insensitive, "." matching line breaks.
inline constexpr TPerlRegExOptions kEngineRegExOptions = preCaseLess | preSingleLine;

// Raised by Compile and Study (and by Match, GroupNumber and Study when they compile).
// what() is UTF-8; Message() gives the text as the engine logs it.
class EPerlRegEx : public std::runtime_error {
public:
    explicit EPerlRegEx(const std::wstring &message);
    const std::wstring &Message() const { return message_; }

private:
    std::wstring message_;
};

class TPerlRegEx {
public:
    // MatchFlags := no empty match; character tables built for the current locale.
    TPerlRegEx();
    // As above, then Options := options (and RegEx := regEx when given).
    explicit TPerlRegEx(TPerlRegExOptions options, std::wstring_view regEx = {});
    ~TPerlRegEx();
    TPerlRegEx(const TPerlRegEx &) = delete;
    TPerlRegEx &operator=(const TPerlRegEx &) = delete;

    const std::wstring &RegEx() const { return regEx_; }
    // A different text discards the compiled pattern and the match results; the same text
    // keeps them.
    void SetRegEx(std::wstring_view regEx);

    TPerlRegExOptions Options() const { return options_; }
    // Different options discard the compiled pattern and the match results.
    void SetOptions(TPerlRegExOptions options);

    TPerlRegExMatchFlags MatchFlags() const { return matchFlags_; }
    void SetMatchFlags(TPerlRegExMatchFlags flags) { matchFlags_ = flags; }

    const std::wstring &Subject() const { return subject_; }
    // Start := 1, Stop := the subject's length, match results cleared.
    void SetSubject(std::wstring_view subject);

    // 1-based bounds of the next search: MatchNext begins at Start, every search ends
    // after Stop characters. Clamped to the subject (Start 1..length+1, Stop 0..length).
    int Start() const { return start_; }
    void SetStart(int start);
    int Stop() const { return stop_; }
    void SetStop(int stop);

    // Called with the object after each successful match.
    std::function<void(TPerlRegEx &)> OnMatch;

    bool Compiled() const { return code_ != nullptr; }
    bool Studied() const { return studied_; }

    // Compiles RegEx. Raises "TPerlRegEx.Compile() - Please specify a regular expression in
    // RegEx first" for an empty expression and "TPerlRegEx.Compile() - Error in regex at
    // offset %d: %s" with PCRE2's offset and text for a malformed one.
    void Compile();
    // Compiles if needed, then compiles the pattern to machine code (PCRE2's JIT, which
    // takes the place of the classic study). Where JIT is not available the interpreter is
    // used without complaint. Any other failure raises "TPerlRegEx.Study() - Error studying
    // the regex: " followed by PCRE2's text.
    void Study();

    // Searches the subject from its beginning up to Stop. True when something matched; then
    // the offsets are 1-based positions and Start is the position after the match (one
    // further for an empty match). A failed search returns false and never raises; only
    // compiling may raise.
    bool Match();
    // As Match, but the search begins at Start; false at once when Stop < Start.
    bool MatchNext();

    // The whole last match, its 1-based position and its length.
    std::wstring MatchedText() const { return GroupText(0); }
    int MatchedOffset() const { return GroupOffset(0); }
    int MatchedLength() const { return GroupLength(0); }
    // Group Index of the last match (0 = whole match); empty (position 0, length 0) when
    // Index exceeds GroupCount or the group took no part in the match.
    std::wstring GroupText(int index) const;
    int GroupOffset(int index) const;
    int GroupLength(int index) const;
    // Number of the last match's captured groups: the highest group that took part, -1
    // before any match or after a failed one.
    int GroupCount() const { return matchResult_ > 0 ? matchResult_ - 1 : -1; }
    // Number of the group named Name ("(?P<name>...)"); negative when there is none.
    // Compiles if needed.
    int GroupNumber(std::wstring_view name);

    // The last search's raw result: captured groups plus one, a negative PCRE2 code, or 0
    // before any search.
    int MatchResult() const { return matchResult_; }

private:
    void Discard();
    void ClearMatch();
    bool Search(size_t startOffset);

    std::wstring regEx_;
    std::wstring subject_;
    TPerlRegExOptions options_ = 0;
    TPerlRegExMatchFlags matchFlags_ = preNotEmpty;
    int start_ = 1;
    int stop_ = 0;
    bool studied_ = false;
    int matchResult_ = 0;
    std::vector<int> offsets_; // 1-based start and end (exclusive) per group; 0 when unset

    unsigned compileFlags_ = 0;
    unsigned extraFlags_ = 0;
    pcre2_real_code_16 *code_ = nullptr;
    pcre2_real_match_data_16 *matchData_ = nullptr;
    pcre2_real_compile_context_16 *context_ = nullptr; // carries the tables and extra options
    const unsigned char *tables_ = nullptr;
};

} // namespace tidyhive
