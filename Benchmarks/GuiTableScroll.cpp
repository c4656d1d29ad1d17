// How long a long list takes to reload and to jump or step through its rows:
// a table of 5000 rows in a 400x700 window, offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>

#include "UIKit/UITableView.h"

namespace {

class Rows : public UITableViewDataSource {
public:
    int numberOfRows(UITableView*, int) override { return 5000; }
    UITableViewCell* cellForRow(UITableView* t, IndexPath ip) override {
        auto* cell = t->dequeueReusableCell("cell");
        cell->textLabel()->setText(QStringLiteral("Package %1").arg(ip.row));
        cell->detailTextLabel()->setText(QStringLiteral("Maintainer %1").arg(ip.row % 97));
        return cell;
    }
};

struct Fixture {
    Rows rows;
    UITableView table;
    Fixture() {
        table.registerCell("cell", [] { return new UITableViewCell; });
        table.setDataSource(&rows);
        table.setRowHeight(70);
        table.resize(400, 700);
        table.show();
        table.reloadData();
    }
};

void BM_ReloadData(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) f.table.reloadData();
}
BENCHMARK(BM_ReloadData);

void BM_ScrollByOneRow(benchmark::State& state) {
    Fixture f;
    int y = 0;
    for (auto _ : state) {
        y = (y + 70) % (5000 * 70 - 700);
        f.table.setContentOffset(y);
    }
    state.counters["cells"] = f.table.createdCellCount();
}
BENCHMARK(BM_ScrollByOneRow);

void BM_JumpAnywhere(benchmark::State& state) {
    Fixture f;
    unsigned y = 12345;
    for (auto _ : state) {
        y = y * 1103515245u + 12345u;
        f.table.setContentOffset((y >> 8) % (5000 * 70));
    }
    state.counters["cells"] = f.table.createdCellCount();
}
BENCHMARK(BM_JumpAnywhere);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
