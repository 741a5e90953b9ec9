#include "services/PerlRegEx.h"

#include "services/Text.h"

#include <pcre2.h>

#include <climits>
#include <new>

namespace tidyhive {
namespace {

static_assert(sizeof(wchar_t) == sizeof(PCRE2_UCHAR), "the engine's text must be UTF-16");

PCRE2_SPTR AsPcre(const std::wstring &text)
{
    return reinterpret_cast<PCRE2_SPTR>(text.c_str());
}

std::wstring ErrorText(int code)
{
    PCRE2_UCHAR buffer[256] = {};
    const int length = pcre2_get_error_message(code, buffer, sizeof(buffer) / sizeof(buffer[0]));
    if (length < 0) {
        return FormatText(L"error %d", code);
    }
    return std::wstring(reinterpret_cast<const wchar_t *>(buffer), static_cast<size_t>(length));
}

// UTF-16 throughout: caseless matching then folds every letter, not only ASCII. A subject
// that is not well-formed UTF-16 is searched all the same.
constexpr uint32_t kAlwaysCompileFlags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;

uint32_t CompileFlagsOf(TPerlRegExOptions options)
{
    struct Mapping {
        TPerlRegExOption option;
        uint32_t flag;
    };
    static constexpr Mapping kMappings[] = {
        {preCaseLess, PCRE2_CASELESS}, {preMultiLine, PCRE2_MULTILINE},
        {preSingleLine, PCRE2_DOTALL}, {preExtended, PCRE2_EXTENDED},
        {preAnchored, PCRE2_ANCHORED}, {preDollarEndOnly, PCRE2_DOLLAR_ENDONLY},
        {preUnGreedy, PCRE2_UNGREEDY},
    };
    uint32_t flags = kAlwaysCompileFlags;
    for (const Mapping &mapping : kMappings) {
        if (options & mapping.option) {
            flags |= mapping.flag;
        }
    }
    return flags;
}

// PCRE2 is always strict about escapes, as the classic library was with its EXTRA option;
// without preExtra the lenient classic reading is asked for.
uint32_t ExtraFlagsOf(TPerlRegExOptions options)
{
    return (options & preExtra) ? 0 : PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL;
}

uint32_t MatchOptionsOf(TPerlRegExMatchFlags flags)
{
    uint32_t options = 0;
    if (flags & preNotBOL) {
        options |= PCRE2_NOTBOL;
    }
    if (flags & preNotEOL) {
        options |= PCRE2_NOTEOL;
    }
    if (flags & preNotEmpty) {
        options |= PCRE2_NOTEMPTY;
    }
    return options;
}

int ClampedLength(const std::wstring &text)
{
    return text.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
}

} // namespace

EPerlRegEx::EPerlRegEx(const std::wstring &message)
    : std::runtime_error(WideToUtf8(message)), message_(message)
{
}

TPerlRegEx::TPerlRegEx()
{
    tables_ = pcre2_maketables(nullptr);
    context_ = pcre2_compile_context_create(nullptr);
    if (!tables_ || !context_) {
        pcre2_maketables_free(nullptr, tables_);
        pcre2_compile_context_free(context_);
        throw std::bad_alloc();
    }
    pcre2_set_character_tables(context_, tables_);
    compileFlags_ = CompileFlagsOf(options_);
    extraFlags_ = ExtraFlagsOf(options_);
}

TPerlRegEx::TPerlRegEx(TPerlRegExOptions options, std::wstring_view regEx) : TPerlRegEx()
{
    SetOptions(options);
    SetRegEx(regEx);
}

TPerlRegEx::~TPerlRegEx()
{
    Discard();
    pcre2_compile_context_free(context_);
    pcre2_maketables_free(nullptr, tables_);
}

void TPerlRegEx::SetRegEx(std::wstring_view regEx)
{
    if (regEx == regEx_) {
        return;
    }
    regEx_.assign(regEx);
    Discard();
}

void TPerlRegEx::SetOptions(TPerlRegExOptions options)
{
    if (options == options_) {
        return;
    }
    options_ = options;
    compileFlags_ = CompileFlagsOf(options_);
    extraFlags_ = ExtraFlagsOf(options_);
    Discard();
}

void TPerlRegEx::SetSubject(std::wstring_view subject)
{
    subject_.assign(subject);
    start_ = 1;
    stop_ = ClampedLength(subject_);
    ClearMatch();
}

void TPerlRegEx::SetStart(int start)
{
    const int length = ClampedLength(subject_);
    start_ = start < 1 ? 1 : (start > length + 1 ? length + 1 : start);
}

void TPerlRegEx::SetStop(int stop)
{
    const int length = ClampedLength(subject_);
    stop_ = stop < 0 ? 0 : (stop > length ? length : stop);
}

void TPerlRegEx::Compile()
{
    if (regEx_.empty()) {
        throw EPerlRegEx(L"TPerlRegEx.Compile() - Please specify a regular expression in RegEx first");
    }
    Discard();
    pcre2_set_compile_extra_options(context_, extraFlags_);
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code *code =
        pcre2_compile(AsPcre(regEx_), regEx_.size(), compileFlags_, &errorCode, &errorOffset, context_);
    if (!code) {
        throw EPerlRegEx(FormatText(L"TPerlRegEx.Compile() - Error in regex at offset %d: %s",
                                    static_cast<int>(errorOffset), ErrorText(errorCode).c_str()));
    }
    pcre2_match_data *matchData = pcre2_match_data_create_from_pattern(code, nullptr);
    if (!matchData) {
        pcre2_code_free(code);
        throw std::bad_alloc();
    }
    code_ = code;
    matchData_ = matchData;
}

void TPerlRegEx::Study()
{
    if (!Compiled()) {
        Compile();
    }
    const int result = pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    // JIT_BADOPTION: no JIT in this build or on this processor; NOMEMORY: no executable
    // memory to be had. Either way the interpreter matches the same.
    if (result < 0 && result != PCRE2_ERROR_JIT_BADOPTION && result != PCRE2_ERROR_NOMEMORY) {
        throw EPerlRegEx(L"TPerlRegEx.Study() - Error studying the regex: " + ErrorText(result));
    }
    studied_ = true;
}

bool TPerlRegEx::Match()
{
    if (!Compiled()) {
        Compile();
    }
    // Always from the beginning: the Start left by an earlier match does not stop a new
    // search of the same subject.
    return Search(0);
}

bool TPerlRegEx::MatchNext()
{
    if (!Compiled()) {
        Compile();
    }
    if (stop_ < start_) {
        ClearMatch();
        matchResult_ = PCRE2_ERROR_NOMATCH;
        return false;
    }
    return Search(static_cast<size_t>(start_ - 1));
}

bool TPerlRegEx::Search(size_t startOffset)
{
    ClearMatch();
    const int result = pcre2_match(code_, AsPcre(subject_), static_cast<PCRE2_SIZE>(stop_), startOffset,
                                   MatchOptionsOf(matchFlags_), matchData_, nullptr);
    // The match data is sized from the pattern, so 0 (too few offsets) cannot occur; treat
    // it as a failure all the same rather than read offsets that are not there.
    if (result <= 0) {
        matchResult_ = result < 0 ? result : PCRE2_ERROR_NOMATCH;
        return false;
    }
    matchResult_ = result;
    const PCRE2_SIZE *vector = pcre2_get_ovector_pointer(matchData_);
    offsets_.assign(static_cast<size_t>(result) * 2, 0);
    for (size_t i = 0; i < offsets_.size(); i += 2) {
        if (vector[i] == PCRE2_UNSET || vector[i + 1] == PCRE2_UNSET) {
            continue;
        }
        offsets_[i] = static_cast<int>(vector[i]) + 1;
        // A \K inside a look-ahead can end a match before its start; read that as empty.
        offsets_[i + 1] = static_cast<int>(vector[i + 1] < vector[i] ? vector[i] : vector[i + 1]) + 1;
    }
    start_ = offsets_[1];
    if (offsets_[0] == offsets_[1]) {
        ++start_; // an empty match must not hold the next search at the same place
    }
    if (OnMatch) {
        OnMatch(*this);
    }
    return true;
}

std::wstring TPerlRegEx::GroupText(int index) const
{
    const int length = GroupLength(index);
    if (length <= 0) {
        return {};
    }
    return subject_.substr(static_cast<size_t>(GroupOffset(index) - 1), static_cast<size_t>(length));
}

int TPerlRegEx::GroupOffset(int index) const
{
    if (index < 0 || index > GroupCount()) {
        return 0;
    }
    return offsets_[static_cast<size_t>(index) * 2];
}

int TPerlRegEx::GroupLength(int index) const
{
    if (index < 0 || index > GroupCount()) {
        return 0;
    }
    const size_t at = static_cast<size_t>(index) * 2;
    return offsets_[at] == 0 ? 0 : offsets_[at + 1] - offsets_[at];
}

int TPerlRegEx::GroupNumber(std::wstring_view name)
{
    if (!Compiled()) {
        Compile();
    }
    const std::wstring text(name);
    return pcre2_substring_number_from_name(code_, AsPcre(text));
}

void TPerlRegEx::Discard()
{
    pcre2_match_data_free(matchData_);
    pcre2_code_free(code_);
    matchData_ = nullptr;
    code_ = nullptr;
    studied_ = false;
    ClearMatch();
}

void TPerlRegEx::ClearMatch()
{
    matchResult_ = 0;
    offsets_.clear();
}

} // namespace tidyhive
