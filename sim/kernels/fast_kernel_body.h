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

// Whether every offset a - b with b in [low, high] wraps alike, and then by which c (0, extent or
// -extent): each one's shortOffset is (a - b) - c. Each a - b lies between a - high and a - low as
// rounded, rounding being monotonic. A NaN a shares nothing.
inline bool sharedWrap(double a, double low, double high, double extent, double& c) {
    const double half = extent / 2;
    const double least = a - high;
    const double greatest = a - low;
    c = least > half ? extent : greatest < -half ? -extent : 0;
    return least > half || greatest < -half || (least >= -half && greatest <= half);
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

// ROWS rows as one vector per row: position and mass broadcast, the wrap each row's offsets from
// the tile share (where they share one), and the rows' running sums.
struct RowGroup {
    V x[ROWS];
    V y[ROWS];
    V gm[ROWS];
    V wrapX[ROWS];
    V wrapY[ROWS];
    V ax[ROWS];
    V ay[ROWS];
};

// How a group of rows' offsets from a tile wrap in one axis: each tested, by one shortOffset each
// row shares with the whole tile (its wrapX or wrapY), or not at all for any row.
enum class Wrap { Tested, Shared, None };

// shortOffset(a, b, extent, half), where the wrap is as WRAP says (wrap: the row's shared one).
template <Wrap WRAP>
KERNEL_INLINE V offsetOf(V a, V b, V wrap, V extent, V half) {
    if constexpr (WRAP == Wrap::None) return a - b;
    if constexpr (WRAP == Wrap::Shared) return (a - b) - wrap;
    if constexpr (WRAP == Wrap::Tested) return shortOffset(a, b, extent, half);
}

// The group of rows at i (tile row ii) against the vector of partners at j (tile column jj).
// Where the step's bounds on r2 keep every pair within the estimate's range (SERVED), the inverse
// cube is finite at r2 = 0 too, so that a coincident pair's zero offsets give zero terms (padding's
// terms vanish too) and only the diagonal's order (DIAGONAL: partners after the row) and the cuts
// (CUTS: a particle absorbed this step) mask lanes. Otherwise every lane is checked. WRAP_X and
// WRAP_Y: how the offsets wrap in each axis.
template <bool DIAGONAL, bool CUTS, bool SERVED, Wrap WRAP_X, Wrap WRAP_Y>
KERNEL_INLINE void rowsAgainstPartners(const GravityView& g, const FastConstants& c, RowGroup& rows, int32_t i,
                                       int32_t ii, int32_t j, int32_t jj, double* outJx, double* outJy) {
    const V xj = load(g.x + j);
    const V yj = load(g.y + j);
    const V gmj = load(g.gm + j);
    V sumX = c.zero;
    V sumY = c.zero;
#pragma GCC unroll 4
    for (int32_t r = 0; r < ROWS; ++r) {
        const V sx = offsetOf<WRAP_X>(rows.x[r], xj, rows.wrapX[r], c.width, c.halfWidth);
        const V sy = offsetOf<WRAP_Y>(rows.y[r], yj, rows.wrapY[r], c.height, c.halfHeight);
        const V r2 = multiplyAdd(sx, sx, sy * sy);
        V tx;
        V ty;
        if constexpr (SERVED && !DIAGONAL && !CUTS) {
            const V inv3 = inverseCubeServed(r2);
            tx = sx * inv3;
            ty = sy * inv3;
        } else {
            M ok{};
            if constexpr (DIAGONAL) {
                ok = greaterThan(c.lanes + broadcast(static_cast<double>(jj)), broadcast(static_cast<double>(ii + r)));
            }
            if constexpr (CUTS) {
                const M uncut = lessThan(load(g.idx + j), broadcast(g.cut[i + r])) &
                                lessThan(broadcast(g.idx[i + r]), load(g.cut + j));
                ok = DIAGONAL ? ok & uncut : uncut;
            }
            V inv3;
            if constexpr (SERVED) {
                inv3 = inverseCubeServed(r2);
            } else {
                // Coincident particles pull on nothing.
                const M positive = greaterThan(r2, c.zero);
                ok = DIAGONAL || CUTS ? ok & positive : positive;
                inv3 = inverseCube(r2, ok);
            }
            tx = multiplyWhere(ok, sx, inv3);
            ty = multiplyWhere(ok, sy, inv3);
        }
        rows.ax[r] = negativeMultiplyAdd(gmj, tx, rows.ax[r]);
        rows.ay[r] = negativeMultiplyAdd(gmj, ty, rows.ay[r]);
        sumX = multiplyAdd(rows.gm[r], tx, sumX);
        sumY = multiplyAdd(rows.gm[r], ty, sumY);
    }
    store(outJx + jj, load(outJx + jj) + sumX);
    store(outJy + jj, load(outJy + jj) + sumY);
}

// Whether one of n particles from p is cut (absorbed this step).
inline bool anyCut(const GravityView& g, int32_t p, int32_t n) {
    bool cut = false;
    for (int32_t k = p; k < p + n; ++k) cut = cut || g.cut[k] != NO_CUT;
    return cut;
}

// A group of rows against the tile's vectors of partners from first to stop. Masks cost the pair
// loop as much as the inverse cube at AVX2, so each vector takes only those it needs: on the
// diagonal (DIAGONAL) the order where a partner comes before a row; in tiles with a cut (MASKED)
// the cuts where the rows or the partners hold one. A dropped mask would keep every lane, so the
// bits are the same.
template <bool DIAGONAL, bool MASKED, bool SERVED, Wrap WRAP_X, Wrap WRAP_Y>
KERNEL_INLINE void rowsAgainstTile(const GravityView& g, const FastConstants& c, RowGroup& rows, int32_t i, int32_t ii,
                                   int32_t j0, int32_t first, int32_t stop, bool rowsCut, const bool* partnersCut,
                                   double* outJx, double* outJy) {
    for (int32_t jj = first; jj < stop; jj += LANES) {
        const int32_t j = j0 + jj;
        const bool cuts = rowsCut || partnersCut[jj / LANES];
        if constexpr (DIAGONAL) {
            // A vector from ii + ROWS on lies after every row of the group.
            if (jj < ii + ROWS) {
                if (cuts) {
                    rowsAgainstPartners<true, MASKED, SERVED, WRAP_X, WRAP_Y>(g, c, rows, i, ii, j, jj, outJx, outJy);
                } else {
                    rowsAgainstPartners<true, false, SERVED, WRAP_X, WRAP_Y>(g, c, rows, i, ii, j, jj, outJx, outJy);
                }
                continue;
            }
        }
        if (cuts) {
            rowsAgainstPartners<false, MASKED, SERVED, WRAP_X, WRAP_Y>(g, c, rows, i, ii, j, jj, outJx, outJy);
        } else {
            rowsAgainstPartners<false, false, SERVED, WRAP_X, WRAP_Y>(g, c, rows, i, ii, j, jj, outJx, outJy);
        }
    }
}

// A tile of rows against a tile of partners. Where the view has the tiles' boxes and each row's
// offsets from the partner tile's box wrap alike in x or in y, a group of rows skips that test.
template <bool DIAGONAL, bool MASKED, bool SERVED>
void tilePair(const GravityView& g, int32_t i0, int32_t j0, double* rowX, double* rowY, double* outJx, double* outJy) {
    const FastConstants c = fastConstants(g);
    bool partnersCut[KERNEL_TILE / LANES] = {};
    if constexpr (MASKED) {
        for (int32_t v = 0; v < KERNEL_TILE / LANES; ++v) partnersCut[v] = anyCut(g, j0 + v * LANES, LANES);
    }
    const double* box = g.tileBox == nullptr ? nullptr : g.tileBox + 4 * (j0 / KERNEL_TILE);
    for (int32_t ii = 0; ii < KERNEL_TILE && i0 + ii < g.count; ii += ROWS) {
        const int32_t i = i0 + ii;
        RowGroup rows;
        bool sharedX = box != nullptr;
        bool sharedY = box != nullptr;
        bool noWrap = box != nullptr;
#pragma GCC unroll 4
        for (int32_t r = 0; r < ROWS; ++r) {
            rows.x[r] = broadcast(g.x[i + r]);
            rows.y[r] = broadcast(g.y[i + r]);
            rows.gm[r] = broadcast(g.gm[i + r]);
            rows.ax[r] = c.zero;
            rows.ay[r] = c.zero;
            double wrapX = 0;
            double wrapY = 0;
            sharedX = sharedX && sharedWrap(g.x[i + r], box[0], box[1], g.width, wrapX);
            sharedY = sharedY && sharedWrap(g.y[i + r], box[2], box[3], g.height, wrapY);
            rows.wrapX[r] = broadcast(wrapX);
            rows.wrapY[r] = broadcast(wrapY);
            noWrap = noWrap && wrapX == 0 && wrapY == 0;
        }
        const bool rowsCut = MASKED && anyCut(g, i, ROWS);
        // On the diagonal only partners after the row count; whole vectors before the first are skipped.
        const int32_t first = DIAGONAL ? ((ii + 1) / LANES) * LANES : 0;
        // Vectors of padding alone add exact zeros to the rows and feed only padding sums: skipped.
        const int32_t stop = g.count - j0 < KERNEL_TILE ? g.count - j0 : KERNEL_TILE;
#define ORRELUNE_ROWS_AGAINST_TILE(WRAP_X, WRAP_Y)                                                                     \
    rowsAgainstTile<DIAGONAL, MASKED, SERVED, Wrap::WRAP_X, Wrap::WRAP_Y>(g, c, rows, i, ii, j0, first, stop, rowsCut,     \
                                                                         partnersCut, outJx, outJy)
        // Tiles off the diagonal, the most by far, also share a wrap in one axis alone, or none at
        // all; the diagonal ones and those checking every lane only in both, which keeps the code small.
        constexpr bool ALL_WAYS = !DIAGONAL && SERVED;
        if (ALL_WAYS && sharedX && sharedY && noWrap) {
            ORRELUNE_ROWS_AGAINST_TILE(None, None);
        } else if (sharedX && sharedY) {
            ORRELUNE_ROWS_AGAINST_TILE(Shared, Shared);
        } else if (ALL_WAYS && sharedX) {
            ORRELUNE_ROWS_AGAINST_TILE(Shared, Tested);
        } else if (ALL_WAYS && sharedY) {
            ORRELUNE_ROWS_AGAINST_TILE(Tested, Shared);
        } else {
            ORRELUNE_ROWS_AGAINST_TILE(Tested, Tested);
        }
#undef ORRELUNE_ROWS_AGAINST_TILE
#pragma GCC unroll 4
        for (int32_t r = 0; r < ROWS; ++r) {
            double* rx = rowX + (ii + r) * LANES;
            double* ry = rowY + (ii + r) * LANES;
            store(rx, load(rx) + rows.ax[r]);
            store(ry, load(ry) + rows.ay[r]);
        }
    }
}

// Whether the estimate serves every pair of two tiles (or particles) whose smallest |coordinate|
// are nearA and nearB, beside the step's own bounds: two different coordinates differ by at least
// half an ulp of the larger (a zero by the other whole), so a nonzero offset between them is at
// least 2^-54 of the larger of nearA and nearB, or of the field across an edge.
inline bool servedBetween(const GravityView& g, double nearA, double nearB) {
    double near = nearA < nearB ? nearB : nearA;
    const double field = g.width < g.height ? g.width : g.height;
    if (field < near) near = field;
    const double offset = near * 0x1p-54;
    const double least = offset * offset;
    return estimateServes(least > g.leastSquare ? least : g.leastSquare, g.greatestSquare);
}

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
            const bool served = g.tileNear == nullptr
                                    ? estimateServes(g.leastSquare, g.greatestSquare)
                                    : servedBetween(g, g.tileNear[i0 / KERNEL_TILE], g.tileNear[j0 / KERNEL_TILE]);
            const auto pair = [&]<bool SERVED>() {
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
            };
            if (served) {
                pair.template operator()<true>();
            } else {
                pair.template operator()<false>();
            }
        }
        // On a diagonal block aX also holds the partner-side sums; the row sums join them here.
        for (int32_t ii = 0; ii < KERNEL_TILE; ++ii) {
            aX[i0 - aBegin + ii] = aX[i0 - aBegin + ii] + laneSum(load(rowX + ii * LANES));
            aY[i0 - aBegin + ii] = aY[i0 - aBegin + ii] + laneSum(load(rowY + ii * LANES));
        }
    }
}

void pairTask(const GravityView& g, int32_t a, int32_t b) { blockPair(g, a, b); }

// p's terms from its partners in [begin, end) that take part: the pair's terms as the tiles form them.
template <bool SERVED>
void partnerSumOf(const GravityView& g, int32_t p, int32_t begin, int32_t end, double sum[2]) {
    const FastConstants c = fastConstants(g);
    const V xp = broadcast(g.x[p]);
    const V yp = broadcast(g.y[p]);
    const V idxp = broadcast(g.idx[p]);
    const V cutp = broadcast(g.cut[p]);
    const V from = broadcast(static_cast<double>(begin));
    const V to = broadcast(static_cast<double>(end));
    V ax = c.zero;
    V ay = c.zero;
    for (int32_t j = (begin / LANES) * LANES; j < end; j += LANES) {
        const V sx = shortOffset(xp, load(g.x + j), c.width, c.halfWidth);
        const V sy = shortOffset(yp, load(g.y + j), c.height, c.halfHeight);
        const V r2 = multiplyAdd(sx, sx, sy * sy);
        M ok = lessThan(load(g.idx + j), cutp) & lessThan(idxp, load(g.cut + j));
        // Only the first and the last vector hold lanes outside the stretch.
        if (j < begin || j + LANES > end) {
            const V at = c.lanes + broadcast(static_cast<double>(j));
            ok = ok & lessThan(at, to) & lessThan(from, at + c.one);
        }
        V inv3;
        if constexpr (SERVED) {
            inv3 = inverseCubeServed(r2);  // p itself: zero offsets, a zero term
        } else {
            ok = ok & greaterThan(r2, c.zero);
            inv3 = inverseCube(r2, ok);
        }
        const V gmj = load(g.gm + j);
        ax = negativeMultiplyAdd(gmj, multiplyWhere(ok, sx, inv3), ax);
        ay = negativeMultiplyAdd(gmj, multiplyWhere(ok, sy, inv3), ay);
    }
    sum[0] = laneSum(ax);
    sum[1] = laneSum(ay);
}

void partnerSum(const GravityView& g, int32_t p, int32_t begin, int32_t end, double sum[2]) {
    const double x = g.x[p] < 0 ? -g.x[p] : g.x[p];
    const double y = g.y[p] < 0 ? -g.y[p] : g.y[p];
    if (servedBetween(g, x < y ? x : y, 0)) {
        partnerSumOf<true>(g, p, begin, end, sum);
    } else {
        partnerSumOf<false>(g, p, begin, end, sum);
    }
}
