#include "core/jira/error.h"

#include <climits>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "core/base/text_util.h"

namespace taskbell {
namespace {

// How much of an unexpected error body the message quotes, in user-perceived characters.
constexpr int kExcerptCharacters = 300;

// The first `count` grapheme clusters of UTF-8 text, so that an accent or an emoji sequence is never
// cut in half. Text that is not valid UTF-8 gives nothing, as the client does for such bodies.
std::string graphemePrefix(std::string_view text, int count)
{
    if (text.empty() || !isValidUtf8(text)) {
        return {};
    }
    // Past INT_MAX bytes ICU cannot index the text; an excerpt never reaches that far anyway.
    auto length = static_cast<int64_t>(std::min<std::size_t>(text.size(), INT_MAX));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> utext(utext_openUTF8(nullptr, text.data(), length, &status),
                                                         &utext_close);
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        return {};
    }
    characters->setText(utext.get(), status);
    if (U_FAILURE(status)) {
        return {};
    }
    int32_t end = characters->first();
    for (int i = 0; i < count; ++i) {
        int32_t next = characters->next();
        if (next == icu::BreakIterator::DONE) {
            break;
        }
        end = next;
    }
    return std::string(text.substr(0, static_cast<std::size_t>(end)));
}

std::string httpDetail(int status, std::string_view body)
{
    switch (status) {
    case 401:
        return "Authentication failed — check your email and API token.";
    case 403:
        return "Access denied — your account may lack permission.";
    case 404:
        return "Not found — check your site URL / project key.";
    default:
        return graphemePrefix(body, kExcerptCharacters);
    }
}

std::string describe(JiraError::Kind kind, int status, const std::string& text)
{
    using Kind = JiraError::Kind;
    switch (kind) {
    case Kind::http:
        return "Jira returned HTTP " + std::to_string(status) + ". " + httpDetail(status, text);
    case Kind::network:
        return "Network error: " + text;
    case Kind::decoding:
        return "Could not read Jira's response: " + text;
    case Kind::noTransition:
        return "No workflow transition to " + text + " is available for this issue.";
    case Kind::notConfigured:
        return "Jira is not configured. Open Settings and enter your site, email and API token.";
    case Kind::badURL:
        return "The Jira base URL looks invalid.";
    }
    return {};
}

} // namespace

JiraError::JiraError(Kind kind, int status, std::string text)
    : kind_(kind), status_(status), text_(std::move(text)), description_(describe(kind_, status_, text_))
{
}

JiraError JiraError::http(int status, std::string body)
{
    return JiraError(Kind::http, status, std::move(body));
}

JiraError JiraError::network(std::string message)
{
    return JiraError(Kind::network, 0, std::move(message));
}

JiraError JiraError::decoding(std::string message)
{
    return JiraError(Kind::decoding, 0, std::move(message));
}

JiraError JiraError::noTransition(std::string targetName)
{
    return JiraError(Kind::noTransition, 0, std::move(targetName));
}

JiraError JiraError::notConfigured()
{
    return JiraError(Kind::notConfigured, 0, {});
}

JiraError JiraError::badURL()
{
    return JiraError(Kind::badURL, 0, {});
}

} // namespace taskbell
