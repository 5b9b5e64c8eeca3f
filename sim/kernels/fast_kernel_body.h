// The gravity kernels written once over an 8-lane vector type V with mask type M. Included by
// each instruction-set file inside an anonymous namespace after it has defined V, M and their
// operations, so that nothing compiled for one instruction set can stand in for another.
// Every operation but the inverse cube (each file's own: inverseCube, inverseCubeServed,
// estimateServes) is the same in every lane layout.

constexpr int32_t LANES = 8;

// Lanes summed in one fixed tree, the same for every instruction set.
inline double laneSum(V a) {
    double l[LANES];
    store(l, a);
    return ((l[0] + l[1]) + (l[2] + l[3])) + ((l[4] + l[5]) + (l[6] + l[7]));
}

// The signed shortest offset of a from b, bit for bit the literal step's offset times its sign.
// The literal test extent - |d| < |d| is |d| > extent / 2 exactly (near the tie the subtraction
// is exact), and -(extent - |d|) with the sign of d is d - extent with extent given d's sign.
inline V shortOffset(V a, V b, V extent, V half) {
    V d = a - b;
    return subtractWhere(greaterThan(vabs(d), half), d, signOf(extent, d));
}

inline V laneIndex() {
    alignas(64) static const double index[LANES] = {0, 1, 2, 3, 4, 5, 6, 7};
    return load(index);
}

// The constants every fast kernel loop needs, broadcast once per call.
struct FastConstants {
    V zero;
    V one;
    V width;
    V height;
    V halfWidth;
    V halfHeight;
    V lanes;  // 0, 1, ..., 7
};

inline FastConstants fastConstants(const GravityView& g) {
    return FastConstants{broadcast(0.0),        broadcast(1.0),         broadcast(g.width), broadcast(g.height),
                         broadcast(g.width / 2), broadcast(g.height / 2), laneIndex()};
}

// ROWS rows against one tile of partners: each partner's position, mass and sum are loaded and
// stored once for all of them. The order of every sum is fixed by the tile alone.
constexpr int32_t ROWS = 4;

// 1/(r2 sqrt(r2)) and the lanes where r2 > 0: checked lane by lane, or, where the step's bounds
// on r2 keep every pair within the estimate's range (SERVED), not.
template <bool SERVED>
KERNEL_INLINE V inverseCubeOf(V r2, M& positive) {
    if constexpr (SERVED) {
        positive = greaterThan(r2, broadcast(0.0));
        return inverseCubeServed(r2);
    } else {
        return inverseCube(r2, positive);
    }
}

template <bool DIAGONAL, bool MASKED, bool SERVED>
void tilePair(const GravityView& g, int32_t i0, int32_t j0, double* rowX, double* rowY, double* outJx, double* outJy) {
    const auto [zero, one, width, height, halfWidth, halfHeight, lanes] = fastConstants(g);
    for (int32_t ii = 0; ii < KERNEL_TILE && i0 + ii < g.count; ii += ROWS) {
        const int32_t i = i0 + ii;
        V xr[ROWS];
        V yr[ROWS];
        V gmr[ROWS];
        V ax[ROWS];
        V ay[ROWS];
#pragma GCC unroll 4
        for (int32_t r = 0; r < ROWS; ++r) {
            xr[r] = broadcast(g.x[i + r]);
            yr[r] = broadcast(g.y[i + r]);
            gmr[r] = broadcast(g.gm[i + r]);
            ax[r] = zero;
            ay[r] = zero;
        }
        // On the diagonal only partners after the row count; whole vectors before the first are skipped.
        const int32_t first = DIAGONAL ? ((ii + 1) / LANES) * LANES : 0;
        // Vectors of padding alone add exact zeros to the rows and feed only padding sums: skipped.
        const int32_t stop = g.count - j0 < KERNEL_TILE ? g.count - j0 : KERNEL_TILE;
        for (int32_t jj = first; jj < stop; jj += LANES) {
            const int32_t j = j0 + jj;
            const V xj = load(g.x + j);
            const V yj = load(g.y + j);
            const V gmj = load(g.gm + j);
            V sumX = zero;
            V sumY = zero;
#pragma GCC unroll 4
            for (int32_t r = 0; r < ROWS; ++r) {
                const V sx = shortOffset(xr[r], xj, width, halfWidth);
                const V sy = shortOffset(yr[r], yj, height, halfHeight);
                const V r2 = multiplyAdd(sx, sx, sy * sy);
                // Coincident particles pull on nothing; padding has NaN positions and fails this too.
                M ok;
                const V inv3 = inverseCubeOf<SERVED>(r2, ok);
                if constexpr (DIAGONAL) {
                    ok = ok & greaterThan(lanes + broadcast(static_cast<double>(jj)), broadcast(static_cast<double>(ii + r)));
                }
                if constexpr (MASKED) {
                    ok = ok & lessThan(load(g.idx + j), broadcast(g.cut[i + r])) &
                         lessThan(broadcast(g.idx[i + r]), load(g.cut + j));
                }
                const V tx = multiplyWhere(ok, sx, inv3);
                const V ty = multiplyWhere(ok, sy, inv3);
                ax[r] = negativeMultiplyAdd(gmj, tx, ax[r]);
                ay[r] = negativeMultiplyAdd(gmj, ty, ay[r]);
                sumX = multiplyAdd(gmr[r], tx, sumX);
                sumY = multiplyAdd(gmr[r], ty, sumY);
            }
            store(outJx + jj, load(outJx + jj) + sumX);
            store(outJy + jj, load(outJy + jj) + sumY);
        }
#pragma GCC unroll 4
        for (int32_t r = 0; r < ROWS; ++r) {
            double* rx = rowX + (ii + r) * LANES;
            double* ry = rowY + (ii + r) * LANES;
            store(rx, load(rx) + ax[r]);
            store(ry, load(ry) + ay[r]);
        }
    }
}

template <bool SERVED>
void blockPair(const GravityView& g, int32_t a, int32_t b) {
    const int32_t size = g.blockSize;
    const auto offsetOf = [&](int32_t p, int32_t q) {
        return (static_cast<std::size_t>(p) * static_cast<std::size_t>(g.blocks) + static_cast<std::size_t>(q)) *
               static_cast<std::size_t>(size);
    };
    double* aX = g.partX + offsetOf(a, b);
    double* aY = g.partY + offsetOf(a, b);
    double* bX = g.partX + offsetOf(b, a);
    double* bY = g.partY + offsetOf(b, a);
    for (int32_t k = 0; k < size; ++k) {
        aX[k] = 0;
        aY[k] = 0;
        bX[k] = 0;
        bY[k] = 0;
    }
    const int32_t aBegin = a * size;
    const int32_t bBegin = b * size;
    const int32_t aEnd = aBegin + size < g.padded ? aBegin + size : g.padded;
    const int32_t bEnd = bBegin + size < g.padded ? bBegin + size : g.padded;
    alignas(64) double rowX[KERNEL_TILE * LANES];
    alignas(64) double rowY[KERNEL_TILE * LANES];
    for (int32_t i0 = aBegin; i0 < aEnd && i0 < g.count; i0 += KERNEL_TILE) {
        for (int32_t k = 0; k < KERNEL_TILE * LANES; ++k) {
            rowX[k] = 0;
            rowY[k] = 0;
        }
        for (int32_t j0 = a == b ? i0 : bBegin; j0 < bEnd && j0 < g.count; j0 += KERNEL_TILE) {
            double* jX = bX + (j0 - bBegin);
            double* jY = bY + (j0 - bBegin);
            // Cuts only matter where an absorbed particle is involved: a few tiles a step at most.
            const bool cut = g.tileCut[i0 / KERNEL_TILE] || g.tileCut[j0 / KERNEL_TILE];
            if (i0 == j0) {
                if (cut) {
                    tilePair<true, true, SERVED>(g, i0, j0, rowX, rowY, jX, jY);
                } else {
                    tilePair<true, false, SERVED>(g, i0, j0, rowX, rowY, jX, jY);
                }
            } else if (cut) {
                tilePair<false, true, SERVED>(g, i0, j0, rowX, rowY, jX, jY);
            } else {
                tilePair<false, false, SERVED>(g, i0, j0, rowX, rowY, jX, jY);
            }
        }
        // On a diagonal block aX also holds the partner-side sums; the row sums join them here.
        for (int32_t ii = 0; ii < KERNEL_TILE; ++ii) {
            aX[i0 - aBegin + ii] = aX[i0 - aBegin + ii] + laneSum(load(rowX + ii * LANES));
            aY[i0 - aBegin + ii] = aY[i0 - aBegin + ii] + laneSum(load(rowY + ii * LANES));
        }
    }
}

void pairTask(const GravityView& g, int32_t a, int32_t b) {
    if (estimateServes(g.leastSquare, g.greatestSquare)) {
        blockPair<true>(g, a, b);
    } else {
        blockPair<false>(g, a, b);
    }
}

void partnerSum(const GravityView& g, int32_t p, int32_t begin, int32_t end, double sum[2]) {
    const auto [zero, one, width, height, halfWidth, halfHeight, lanes] = fastConstants(g);
    const V xp = broadcast(g.x[p]);
    const V yp = broadcast(g.y[p]);
    const V idxp = broadcast(g.idx[p]);
    const V cutp = broadcast(g.cut[p]);
    const V from = broadcast(static_cast<double>(begin));
    const V to = broadcast(static_cast<double>(end));
    V ax = zero;
    V ay = zero;
    for (int32_t j = (begin / LANES) * LANES; j < end; j += LANES) {
        const V sx = shortOffset(xp, load(g.x + j), width, halfWidth);
        const V sy = shortOffset(yp, load(g.y + j), height, halfHeight);
        const V r2 = sx * sx + sy * sy;
        M ok;
        const V inv3 = inverseCube(r2, ok);
        const V at = lanes + broadcast(static_cast<double>(j));
        ok = ok & lessThan(at, to) & lessThan(from, at + one);
        ok = ok & lessThan(load(g.idx + j), cutp) & lessThan(idxp, load(g.cut + j));
        const V gmj = load(g.gm + j);
        ax = ax - gmj * multiplyWhere(ok, sx, inv3);
        ay = ay - gmj * multiplyWhere(ok, sy, inv3);
    }
    sum[0] = laneSum(ax);
    sum[1] = laneSum(ay);
}
