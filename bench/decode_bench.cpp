// Decoding a realistic page of the enhanced search: 100 issues with rich ADF descriptions.

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <benchmark/benchmark.h>

#include "core/jira/body.h"
#include "core/jira/models.h"

using namespace taskbell;

namespace {

// One page of 100 issues built from the rich issue fixture, with distinct ids, keys and summaries.
const std::string& pageText()
{
    static const std::string text = [] {
        std::ifstream in(std::string(TASKBELL_TEST_DATA) + "/jira/issue_rich.json", std::ios::binary);
        std::stringstream raw;
        raw << in.rdbuf();
        auto issue = parseJson(raw.str(), kResponseDepthLimit);
        if (!issue) {
            throw std::runtime_error("issue_rich.json missing or not JSON");
        }
        Json page{
            {"issues", Json::array()}, {"isLast", false}, {"nextPageToken", "Ch0jU3RyaW5nJlZFVk5VQT09JUludCZNelUx"}};
        for (int i = 0; i < 100; ++i) {
            Json copy = *issue;
            copy["id"] = std::to_string(10000 + i);
            copy["key"] = "ORCA-" + std::to_string(400 + i);
            copy["fields"]["summary"] = "Task number " + std::to_string(i) + " of the release train";
            page["issues"].push_back(std::move(copy));
        }
        return dumpJson(page);
    }();
    return text;
}

// The search's own path, as for a search of one page: text to records, within a fresh budget.
void parseAndDecode(benchmark::State& state)
{
    const std::string& text = pageText();
    for (auto _ : state) {
        SearchPages pages;
        EnhancedSearchResponse response = pages.enhanced(text);
        benchmark::DoNotOptimize(response);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(state.iterations() * 100);
    state.counters["page_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(parseAndDecode);

// Nine pages of one search (900 issues) through one parser, as the client reads a full list.
void searchOfNinePages(benchmark::State& state)
{
    const std::string& text = pageText();
    for (auto _ : state) {
        SearchPages pages;
        for (int page = 0; page < 9; ++page) {
            EnhancedSearchResponse response = pages.enhanced(text);
            benchmark::DoNotOptimize(response);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 9 * text.size()));
    state.SetItemsProcessed(state.iterations() * 900);
}
BENCHMARK(searchOfNinePages);

// A document tree already in memory (an issue read whole, a test's fixture) through the same decoders.
void decodeTree(benchmark::State& state)
{
    const std::string& text = pageText();
    Json json = *parseJson(text, kResponseDepthLimit);
    for (auto _ : state) {
        EnhancedSearchResponse response = decodeEnhancedSearchResponse(json);
        benchmark::DoNotOptimize(response);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(decodeTree);

void descriptionText(benchmark::State& state)
{
    EnhancedSearchResponse response = SearchPages().enhanced(pageText());
    for (auto _ : state) {
        for (const Issue& issue : response.issues) {
            benchmark::DoNotOptimize(issue.descriptionText());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(response.issues.size()));
}
BENCHMARK(descriptionText);

// Sorting a section asks each issue for its date: three shared parsers behind one lock.
void sortDate(benchmark::State& state)
{
    EnhancedSearchResponse response = SearchPages().enhanced(pageText());
    for (auto _ : state) {
        for (const Issue& issue : response.issues) {
            benchmark::DoNotOptimize(issue.sortDate());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(response.issues.size()));
}
BENCHMARK(sortDate);

} // namespace

BENCHMARK_MAIN();
