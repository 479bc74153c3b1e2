// Status decoding throughput, per family: the family decoder alone, and iGetStatus with its read of
// the stored reply (emptying the last reply each time, so every call decodes). The replies are the
// ones vprinter's printers send.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "plat/registry/registry.h"
#include "printer.h"
#include "registry_store.h"
#include "status_decoder.h"
#include "watchcore.h"

namespace {

struct FamilyCase {
    const char* model;
    std::uint32_t family, code;
    const char* state;  // a control command that gives the reply something to decode
};

const FamilyCase kCases[] = {
    {"PG-03", 0, 0, "paper-low 20"},
    {"DM-02", 1, 6, "ready"},
    {"IJ-09", 2, 3, "ink"},
};

std::string replyOf(const FamilyCase& c)
{
    vprinter::Printer printer("LPT1:", *vprinter::findModel(c.model), std::nullopt);
    bool ok = false;
    if (std::string(c.state) == "ink") printer.control({"ink", "black=8", "color=50"}, ok);
    else printer.control({c.state}, ok);
    printer.control({"warnings", "11"}, ok);
    return printer.statusReply();
}

void prepare(PrinterEntry& entry, std::int32_t* paper, const FamilyCase& c)
{
    std::strcpy(entry.PrinterName, "Bench");
    std::strcpy(entry.ModelName, c.model);
    entry.PrinterFamily = c.family;
    entry.ModelCode = c.code;
    paper[6] = 2;
    paper[38] = paper[47] = 1;
}

void BM_Decoder(benchmark::State& state, const FamilyCase& c)
{
    const std::string reply = replyOf(c);
    PrinterEntry entry{};
    std::int32_t paper[128] = {}, information[64] = {};
    prepare(entry, paper, c);
    for (auto _ : state) {
        bool ok = c.family == 0   ? watchcore::decodePageReply(reply, entry, paper, information)
                  : c.family == 1 ? watchcore::decodeImpactReply(reply, entry, paper)
                                  : watchcore::decodeInkjetReply(reply, reply, entry, paper);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_GetStatus(benchmark::State& state, const FamilyCase& c)
{
    PrinterEntry entry{};
    std::int32_t paper[128] = {}, information[64] = {};
    prepare(entry, paper, c);
    if (fInitRegistory(&entry) != 1 ||
        !watchcore::setText(*plat::registry::Store::forCurrentRoot().value(), watchcore::StoreKey::Vigilmon, "Bench",
                            "RealTimeStatusStrings", replyOf(c))) {
        state.SkipWithError("cannot prepare the store");
        return;
    }
    char last[1024];
    for (auto _ : state) {
        last[0] = '\0';
        if (iGetStatus(&entry, paper, information, last) != 1) state.SkipWithError("iGetStatus failed");
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_Decoder, Page, kCases[0]);
BENCHMARK_CAPTURE(BM_Decoder, Impact, kCases[1]);
BENCHMARK_CAPTURE(BM_Decoder, Inkjet, kCases[2]);
BENCHMARK_CAPTURE(BM_GetStatus, Page, kCases[0])->UseRealTime();
BENCHMARK_CAPTURE(BM_GetStatus, Impact, kCases[1])->UseRealTime();
BENCHMARK_CAPTURE(BM_GetStatus, Inkjet, kCases[2])->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    char root[] = "/tmp/kestrel-decode-bench-XXXXXX";
    if (::mkdtemp(root) == nullptr) return 1;
    ::setenv("KESTREL_ROOT", root, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}
