// Cutting every field of every picture out of a photo-list page with the consume flag.
// Prints the time per size (1k to 10k pictures, about 500 bytes each), bytes per second and the
// fitted complexity, which must be O(N): each search starts where the previous field ended.
#include <benchmark/benchmark.h>

#include "net/StringCtrl.h"

namespace {

using qm::Text;
using qm::TextView;

struct Field {
    const char16_t* start;
    const char16_t* end;
};

// The markers a photo-list fetcher uses, in page order.
constexpr Field kFields[] = {
    {u"\"batchId\" : \"", u"\""},    {u"\"desc\" : \"", u"\""},       {u"\"height\" : ", u","},
    {u"\"lloc\" : \"", u"\""},       {u"\"modifytime\" : ", u","},    {u"\"name\" : \"", u"\""},
    {u"\"origin_url\" : \"", u"\""}, {u"\"picKey\" : \"", u"\""},     {u"\"raw\" : \"", u"\""},
    {u"\"sloc\" : \"", u"\""},       {u"\"uploadtime\" : \"", u"\""}, {u"\"url\" : \"", u"\""},
    {u"\"width\" : ", u","},
};

Text MakePage(int pictures) {
    Text page = u"_Callback(\n{\n   \"code\" : 0,\n   \"data\" : {\n      \"photoList\" : [\n";
    for (int i = 0; i < pictures; ++i) {
        const Text n = qm::FormatText("%d", i);
        page += u"  {\n";
        page += u"    \"batchId\" : \"1650000" + n + u"\",\n";
        page += u"    \"desc\" : \"照片描述 " + n + u"\",\n";
        page += u"    \"height\" : 768,\n";
        page += u"    \"lloc\" : \"NDN0mRsAAAAAA" + n + u"\",\n";
        page += u"    \"modifytime\" : 1650001234,\n";
        page += u"    \"name\" : \"IMG_" + n + u".jpg\",\n";
        page += u"    \"origin_url\" : \"http://photo.example.test/psb?/V1/" + n + u"/o\",\n";
        page += u"    \"picKey\" : \"NDN0mRsAAAAAA" + n + u",NDN0mRsAAAAAA\",\n";
        page += u"    \"raw\" : \"http://photo.example.test/psb?/V1/" + n + u"/r\",\n";
        page += u"    \"sloc\" : \"NDN0mRsAAAAAA" + n + u"\",\n";
        page += u"    \"uploadtime\" : \"2022-04-15 12:00:00\",\n";
        page += u"    \"url\" : \"http://photo.example.test/psb?/V1/" + n + u"/b\",\n";
        page += u"    \"width\" : 1024,\n";
        page += u"  },\n";
    }
    page += u"      ]\n   }\n}\n);";
    return page;
}

void BM_CutEveryField(benchmark::State& state) {
    const int pictures = static_cast<int>(state.range(0));
    const Text page = MakePage(pictures);
    size_t cut = 0;
    for (auto _ : state) {
        TextView view(page);
        cut = 0;
        for (;;) {
            Text first = qm::CutBetween(view, kFields[0].start, kFields[0].end, qm::CUT_CONSUME);
            if (first.empty()) break;
            ++cut;
            for (size_t f = 1; f < std::size(kFields); ++f) {
                Text value = qm::CutBetween(view, kFields[f].start, kFields[f].end, qm::CUT_CONSUME);
                benchmark::DoNotOptimize(value);
                ++cut;
            }
        }
    }
    if (cut != static_cast<size_t>(pictures) * std::size(kFields)) state.SkipWithError("fields missed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(page.size() * sizeof(char16_t)));
    const double pageMB = static_cast<double>(page.size() * sizeof(char16_t)) / (1 << 20);
    state.counters["page_MB"] = pageMB;
    // Seconds per MB of UTF-16 page text (the rate inverted).
    state.counters["s_per_MB"] = benchmark::Counter(
        pageMB, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["utf8_bytes_per_picture"] =
        static_cast<double>(qm::ToUtf8(page).size()) / static_cast<double>(pictures);
    state.SetComplexityN(pictures);
}

BENCHMARK(BM_CutEveryField)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
