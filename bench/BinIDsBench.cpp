// Benchmarks of the identifier collections at the sizes a large database
// gives: sorting a TBinIDList and searching it, and filling, closing (trim and
// sort) and searching a TIDMapList.
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "gismodel/BinIDs.h"

namespace {

std::vector<BinID> RandomIDs(std::size_t n, std::uint64_t seed)
{
    std::mt19937_64 gen(seed);
    std::vector<BinID> ids(n);
    for (auto& id : ids) {
        const auto bits = gen();
        id = MakeBinID(static_cast<std::int32_t>(bits >> 48), static_cast<std::uint32_t>(bits));
    }
    return ids;
}

void BM_BinIDListSort(benchmark::State& state)
{
    const auto ids = RandomIDs(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state) {
        state.PauseTiming();
        TBinIDList list;
        for (const BinID id : ids) list.Add(id);
        state.ResumeTiming();
        list.Sort();
        benchmark::DoNotOptimize(list.Items().data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BinIDListIndexOfSorted(benchmark::State& state)
{
    const auto ids = RandomIDs(static_cast<std::size_t>(state.range(0)), 2);
    TBinIDList list;
    for (const BinID id : ids) list.Add(id);
    list.Sort();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.IndexOf(ids[i]));
        if (++i == ids.size()) i = 0;
    }
}

void BM_IDMapListFillCloseMap(benchmark::State& state)
{
    const auto olds = RandomIDs(static_cast<std::size_t>(state.range(0)), 3);
    for (auto _ : state) {
        TIDMapList map;
        map.BeginUpdate(static_cast<int>(olds.size()), 1);
        for (const BinID id : olds) map.AddMapping(id, id + 1, false);
        map.EndUpdate();
        BinID sum = 0;
        for (const BinID id : olds) sum += map.MapID(id);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_BinIDListSort)->RangeMultiplier(10)->Range(100'000, 1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinIDListIndexOfSorted)->RangeMultiplier(10)->Range(100'000, 1'000'000);
BENCHMARK(BM_IDMapListFillCloseMap)->RangeMultiplier(10)->Range(100'000, 1'000'000)->Unit(benchmark::kMillisecond);
