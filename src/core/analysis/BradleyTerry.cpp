#include "core/analysis/BradleyTerry.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace kv {

namespace {

// Strongly connected components of a directed graph given as adjacency lists (Tarjan, iterative so a
// long chain cannot exhaust the stack).
std::vector<std::vector<quint32>> StrongComponents(const std::vector<std::vector<quint32>>& out)
{
    const quint32 n = quint32(out.size());
    std::vector<qint64> index(n, -1), low(n, 0);
    std::vector<bool> onStack(n, false);
    std::vector<quint32> stack;
    std::vector<std::vector<quint32>> components;
    qint64 next = 0;
    for (quint32 root = 0; root < n; ++root) {
        if (index[root] >= 0)
            continue;
        std::vector<std::pair<quint32, size_t>> calls{{root, 0}};
        index[root] = low[root] = next++;
        stack.push_back(root);
        onStack[root] = true;
        while (!calls.empty()) {
            auto& [v, edge] = calls.back();
            if (edge < out[v].size()) {
                const quint32 w = out[v][edge++];
                if (index[w] < 0) {
                    index[w] = low[w] = next++;
                    stack.push_back(w);
                    onStack[w] = true;
                    calls.emplace_back(w, 0);
                } else if (onStack[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            if (low[v] == index[v]) {
                std::vector<quint32> component;
                quint32 w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    onStack[w] = false;
                    component.push_back(w);
                } while (w != v);
                std::sort(component.begin(), component.end());
                components.push_back(std::move(component));
            }
            const quint32 done = v;
            calls.pop_back();
            if (!calls.empty())
                low[calls.back().first] = std::min(low[calls.back().first], low[done]);
        }
    }
    std::sort(components.begin(), components.end());
    return components;
}

// Inverse of a small symmetric positive definite matrix by Gauss-Jordan elimination with partial
// pivoting; false when it is singular.
bool Invert(std::vector<double>& a, int n)
{
    std::vector<double> inv(size_t(n) * size_t(n), 0.0);
    for (int i = 0; i < n; ++i)
        inv[size_t(i) * size_t(n) + size_t(i)] = 1.0;
    auto at = [n](std::vector<double>& m, int r, int c) -> double& { return m[size_t(r) * size_t(n) + size_t(c)]; };
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r) {
            if (std::abs(at(a, r, col)) > std::abs(at(a, pivot, col)))
                pivot = r;
        }
        if (std::abs(at(a, pivot, col)) < 1e-300)
            return false;
        if (pivot != col) {
            for (int c = 0; c < n; ++c) {
                std::swap(at(a, pivot, c), at(a, col, c));
                std::swap(at(inv, pivot, c), at(inv, col, c));
            }
        }
        const double d = at(a, col, col);
        for (int c = 0; c < n; ++c) {
            at(a, col, c) /= d;
            at(inv, col, c) /= d;
        }
        for (int r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f = at(a, r, col);
            if (f == 0)
                continue;
            for (int c = 0; c < n; ++c) {
                at(a, r, c) -= f * at(a, col, c);
                at(inv, r, c) -= f * at(inv, col, c);
            }
        }
    }
    a = std::move(inv);
    return true;
}

} // namespace

TvsBradleyTerry FitBradleyTerry(const std::vector<TvsComparison>& comparisons, quint32 itemCount, qint64 minComparisons)
{
    TvsBradleyTerry fit;
    std::vector<qint64> taken(itemCount, 0);
    for (const TvsComparison& c : comparisons) {
        if (c.Winner >= itemCount || c.Loser >= itemCount || c.Winner == c.Loser)
            continue;
        ++taken[c.Winner];
        ++taken[c.Loser];
    }
    std::vector<qint64> local(itemCount, -1);
    for (quint32 i = 0; i < itemCount; ++i) {
        if (taken[i] > 0 && taken[i] >= minComparisons) {
            local[i] = qint64(fit.Items.size());
            fit.Items.push_back(i);
        }
    }
    const int m = int(fit.Items.size());
    if (m < 2) {
        fit.Items.clear();
        return fit;
    }

    // Wins of a over b, kept sparse: a catalogue has hundreds of values, a filtered sample few pairs.
    std::map<std::pair<int, int>, qint64> beat;
    std::vector<double> wins(static_cast<size_t>(m), 0.0);
    for (const TvsComparison& c : comparisons) {
        if (c.Winner >= itemCount || c.Loser >= itemCount || c.Winner == c.Loser)
            continue;
        const qint64 a = local[c.Winner], b = local[c.Loser];
        if (a < 0 || b < 0)
            continue;
        ++beat[{int(a), int(b)}];
        wins[size_t(a)] += 1;
    }

    std::vector<std::vector<quint32>> out(static_cast<size_t>(m));
    struct Pair
    {
        int a, b;
        double n; // comparisons between a and b, both ways
    };
    std::map<std::pair<int, int>, double> together;
    for (const auto& [ab, count] : beat) {
        out[size_t(ab.first)].push_back(quint32(ab.second));
        together[{std::min(ab.first, ab.second), std::max(ab.first, ab.second)}] += double(count);
    }
    std::vector<Pair> pairs;
    pairs.reserve(together.size());
    fit.Comparisons.assign(size_t(m), 0);
    for (const auto& [ab, n] : together) {
        pairs.push_back({ab.first, ab.second, n});
        fit.Comparisons[size_t(ab.first)] += qint64(n);
        fit.Comparisons[size_t(ab.second)] += qint64(n);
    }

    const auto components = StrongComponents(out);
    if (components.size() > 1) {
        fit.State = TvsBradleyTerry::Status::Disconnected;
        for (const auto& component : components) {
            std::vector<quint32> items;
            for (quint32 k : component)
                items.push_back(fit.Items[k]);
            fit.Components.push_back(std::move(items));
        }
        fit.Items.clear();
        fit.Comparisons.clear();
        return fit;
    }

    // Hunter (2004): p_i <- W_i / sum_j n_ij / (p_i + p_j), renormalised so the geometric mean is 1,
    // which is the centring the scale is reported in.
    std::vector<double> p(static_cast<size_t>(m), 1.0), denominator(static_cast<size_t>(m));
    constexpr int kMaxIterations = 100000;
    constexpr double kTolerance = 1e-12;
    bool settled = false;
    int iteration = 0;
    while (iteration < kMaxIterations && !settled) {
        ++iteration;
        std::fill(denominator.begin(), denominator.end(), 0.0);
        for (const Pair& pair : pairs) {
            const double share = pair.n / (p[size_t(pair.a)] + p[size_t(pair.b)]);
            denominator[size_t(pair.a)] += share;
            denominator[size_t(pair.b)] += share;
        }
        double logMean = 0;
        std::vector<double> next(static_cast<size_t>(m));
        for (int i = 0; i < m; ++i) {
            next[size_t(i)] = wins[size_t(i)] / denominator[size_t(i)];
            logMean += std::log(next[size_t(i)]);
        }
        logMean /= m;
        const double scale = std::exp(-logMean);
        double change = 0;
        for (int i = 0; i < m; ++i) {
            next[size_t(i)] *= scale;
            change = std::max(change, std::abs(std::log(next[size_t(i)] / p[size_t(i)])));
        }
        p = std::move(next);
        settled = change < kTolerance;
    }
    fit.Iterations = iteration;
    if (!settled) {
        fit.State = TvsBradleyTerry::Status::NoConvergence;
        fit.Items.clear();
        fit.Comparisons.clear();
        return fit;
    }

    fit.Scale.resize(size_t(m));
    double mean = 0;
    for (int i = 0; i < m; ++i)
        mean += fit.Scale[size_t(i)] = std::log(p[size_t(i)]);
    mean /= m;
    for (double& s : fit.Scale)
        s -= mean;

    // The information matrix of the log-abilities is a weighted graph Laplacian, singular along the
    // common shift that the centring removes; (L + J/m)^-1 - J/m is the covariance of the centred scale.
    std::vector<double> info(size_t(m) * size_t(m), 1.0 / m);
    for (const Pair& pair : pairs) {
        const double pa = p[size_t(pair.a)], pb = p[size_t(pair.b)];
        const double w = pair.n * pa * pb / ((pa + pb) * (pa + pb));
        info[size_t(pair.a) * size_t(m) + size_t(pair.a)] += w;
        info[size_t(pair.b) * size_t(m) + size_t(pair.b)] += w;
        info[size_t(pair.a) * size_t(m) + size_t(pair.b)] -= w;
        info[size_t(pair.b) * size_t(m) + size_t(pair.a)] -= w;
    }
    fit.StdError.assign(size_t(m), std::nan(""));
    if (Invert(info, m)) {
        for (int i = 0; i < m; ++i)
            fit.StdError[size_t(i)] = std::sqrt(std::max(0.0, info[size_t(i) * size_t(m) + size_t(i)] - 1.0 / m));
    }
    fit.State = TvsBradleyTerry::Status::Fitted;
    return fit;
}

} // namespace kv
