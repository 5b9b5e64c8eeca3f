// The exact engine's fold and tiles, written once over the 8-lane vector type V with mask type M of
// the fast kernels (fast_kernel_body.h), one lane a particle. Only + - * / sqrt, comparisons,
// selections and sign flips: every lane computes the literal step's term of its pair with the same
// operations on the same operands, so each instruction set gives the literal bits. BUILT takes
// the quotients and roots from rounded_divsqrt_*.h, which give the instructions' bits too.
//
// A lane k meets partner p in the pair (i, j) = (min, max). The literal term added to k is
//   +-((dxo * F) * ex) / (s[k].mass * r) * TIME_STEP,  F = -(s[i].mass * gravity * s[j].mass) / (r * r),
// added when k is i and subtracted when k is j. Multiplying by +-1, dividing and multiplying
// commute with the sign exactly, so the lane computes the magnitude ((dxo * q) / (m * r)) * dt with
// q = (m[i] * gravity * m[j]) / (r * r) and gives it the literal sign by one flip: the sign of
// F (always -), of ex (the side a lies on, times whether the short way crosses the edge) and of
// the subtraction for j. Zeros keep the literal sign; a lane that takes no term adds nothing.

// Partners before every lane, after every lane, or among them.
enum class Side { Before, After, Among };

// One partner's pair with every lane, up to the divisions of its terms: the lanes' force over
// r^2, the divisor m * r, the offsets, the signs to give the terms and, where some lanes may not
// take them, which lanes do.
struct PairStage {
    V q;
    V mr;
    V ox;
    V oy;
    M flipX;  // among the lanes: where the term's sign flips
    M flipY;
    V signX;  // before and after them: the flip is this value's sign bit
    V signY;
    M take;
    bool guarded;
};

// The field and the step, broadcast once for a fold or a tile.
struct FieldConstants {
    V width;
    V height;
    V step;
    V negativeStep;
};

inline FieldConstants fieldConstants(const ExactView& g) {
    return FieldConstants{broadcast(g.width), broadcast(g.height), broadcast(g.timeStep), broadcast(-g.timeStep)};
}

// The values of the lanes, and the constants, for one fold.
struct LaneValues : FieldConstants {
    V xk;
    V yk;
    V mk;
    V mgk;
    V pos;
    V from;
    V to;
};

// GUARDED: the lanes take the term only where r > 0 (coincident particles, the lane itself among
// them, exert nothing), where the partner's cut allows and within their range. Unguarded, every
// lane takes it: a coincident pair then turns its lane's velocity into NaN (0 times infinity),
// which the fold notices at its end and answers by folding again, guarded.
template <bool BUILT, Side SIDE, bool RANGED, bool PARTNER_CUT, bool GUARDED>
KERNEL_INLINE PairStage preparePair(const ExactView& g, int32_t p, const LaneValues& l) {
    const ExactPartner& partner = g.partner[p];
    const V xp = broadcast(partner.x);
    const V yp = broadcast(partner.y);
    const V at = broadcast(static_cast<double>(p));
    // Whether the lane is the pair's j (the partner comes first in the table).
    M second{};
    if constexpr (SIDE == Side::Among) second = lessThan(at, l.pos);

    // The offsets, the smaller square of each axis and whether the short way crosses the edge,
    // as the torus functions form them: |a - b| is the same both ways round. Before the lanes
    // the difference is taken as lane - partner, after them as partner - lane, so that its sign
    // tells the side of the pair's i the literal sign needs (see below).
    const V differenceX = SIDE == Side::After ? xp - l.xk : l.xk - xp;
    const V differenceY = SIDE == Side::After ? yp - l.yk : l.yk - yp;
    const V dx = vabs(differenceX);
    const V dy = vabs(differenceY);
    const V wx = l.width - dx;
    const V wy = l.height - dy;
    PairStage s;
    s.ox = vmin(wx, dx);
    s.oy = vmin(wy, dy);
    const V r = squareRoot<BUILT>(vmin(wx * wx, dx * dx) + vmin(wy * wy, dy * dy));

    V product{};
    if constexpr (SIDE == Side::Before) {
        product = broadcast(partner.massG) * l.mk;
    } else if constexpr (SIDE == Side::After) {
        product = l.mgk * broadcast(partner.mass);
    } else {
        product = select(second, broadcast(partner.massG) * l.mk, l.mgk * broadcast(partner.mass));
    }
    s.q = quotient<BUILT>(product, r * r);
    s.mr = l.mk * r;

    // The literal sign is that of the magnitude times -dt, flipped where "the pair's i lies above
    // its j" differs from "the short way crosses the edge" (wx < dx), and flipped again when the
    // lane is j. Seen from the lane: before the lanes, the partner lies above the lane; after
    // them, at or above it. Before, lane - partner is negative exactly when the partner is above
    // (equal positions give +0, positions being never -0 here); after, partner - lane is not
    // negative exactly when the partner is at or above, so there the magnitude takes +dt. Either
    // way the flip is where that difference and wx - dx (negative exactly when crossing) differ in
    // sign.
    if constexpr (SIDE == Side::Among) {
        const M acrossX = lessThan(wx, dx);
        const M acrossY = lessThan(wy, dy);
        s.flipX = selectMask(second, greaterThan(xp, l.xk), greaterOrEqual(xp, l.xk)) ^ acrossX;
        s.flipY = selectMask(second, greaterThan(yp, l.yk), greaterOrEqual(yp, l.yk)) ^ acrossY;
    } else {
        s.signX = bitXor(differenceX, wx - dx);
        s.signY = bitXor(differenceY, wy - dy);
    }

    s.guarded = GUARDED;
    if constexpr (GUARDED) {
        s.take = greaterThan(r, broadcast(0.0));
        if constexpr (PARTNER_CUT) s.take = s.take & lessThan(l.pos, broadcast(partner.cut));
        if constexpr (RANGED) s.take = s.take & lessThan(at, l.to) & greaterOrEqual(at, l.from);
    }
    return s;
}

template <bool BUILT, Side SIDE>
KERNEL_INLINE void finishPair(const PairStage& s, const LaneValues& l, V& vx, V& vy) {
    // The two terms divide by the same m * r.
    V qx{};
    V qy{};
    quotients<BUILT>(s.ox * s.q, s.oy * s.q, s.mr, qx, qy);
    V tx{};
    V ty{};
    if constexpr (SIDE == Side::Among) {
        tx = flipSignWhere(s.flipX, qx * l.negativeStep);
        ty = flipSignWhere(s.flipY, qy * l.negativeStep);
    } else {
        const V step = SIDE == Side::After ? l.step : l.negativeStep;
        tx = flipSignBy(s.signX, qx * step);
        ty = flipSignBy(s.signY, qy * step);
    }
    if (s.guarded) {
        vx = addWhere(s.take, vx, tx);
        vy = addWhere(s.take, vy, ty);
    } else {
        vx = vx + tx;
        vy = vy + ty;
    }
}

template <bool BUILT, Side SIDE, bool RANGED, bool GUARDED>
KERNEL_INLINE PairStage prepare(const ExactView& g, int32_t p, const LaneValues& l) {
    // Cuts are rare: most partners skip the test.
    if (g.partner[p].cut == NO_CUT) return preparePair<BUILT, SIDE, RANGED, false, GUARDED>(g, p, l);
    return preparePair<BUILT, SIDE, RANGED, true, true>(g, p, l);
}

// The partners [begin, end) in order. Each partner's pair is prepared one partner ahead of its
// terms being added, so that the square root and divisions of consecutive partners overlap
// instead of waiting on each other; the additions keep their order.
template <bool BUILT, Side SIDE, bool RANGED, bool GUARDED>
inline void foldRun(const ExactView& g, int32_t begin, int32_t end, const LaneValues& l, V& vx, V& vy) {
    if (begin >= end) return;
    PairStage ready = prepare<BUILT, SIDE, RANGED, GUARDED>(g, begin, l);
    for (int32_t p = begin + 1; p < end; ++p) {
        const PairStage next = prepare<BUILT, SIDE, RANGED, GUARDED>(g, p, l);
        finishPair<BUILT, SIDE>(ready, l, vx, vy);
        ready = next;
    }
    finishPair<BUILT, SIDE>(ready, l, vx, vy);
}

// Partners before and after the lanes are unguarded unless ranged or asked; among them the
// lanes themselves are partners, so that stretch is always guarded.
template <bool BUILT, bool RANGED, bool GUARDED>
void foldSides(const ExactView& g, const ExactLanes& lanes, int32_t first, int32_t last, int32_t begin, int32_t end,
               V& vx, V& vy) {
    const LaneValues l{fieldConstants(g), load(lanes.x), load(lanes.y), load(lanes.mass), load(lanes.massG),
                       load(lanes.pos), load(lanes.from), load(lanes.to)};
    const int32_t beforeEnd = end < first ? end : first;
    const int32_t amongBegin = begin > first ? begin : first;
    const int32_t amongEnd = end < last + 1 ? end : last + 1;
    const int32_t afterBegin = begin > last + 1 ? begin : last + 1;
    foldRun<BUILT, Side::Before, RANGED, RANGED || GUARDED>(g, begin, beforeEnd, l, vx, vy);
    foldRun<BUILT, Side::Among, RANGED, true>(g, amongBegin, amongEnd, l, vx, vy);
    foldRun<BUILT, Side::After, RANGED, RANGED || GUARDED>(g, afterBegin, end, l, vx, vy);
}

template <bool BUILT>
void foldGroup(const ExactView& g, ExactLanes& lanes, int32_t first, int32_t last, int32_t begin, int32_t end,
               bool ranged) {
    V vx = load(lanes.vx);
    V vy = load(lanes.vy);
    if (ranged) {
        foldSides<BUILT, true, true>(g, lanes, first, last, begin, end, vx, vy);
    } else {
        foldSides<BUILT, false, false>(g, lanes, first, last, begin, end, vx, vy);
        // A NaN from a coincident pair (or from the arithmetic itself): fold again, guarded.
        if (anyLane(notANumber(vx) | notANumber(vy))) {
            vx = load(lanes.vx);
            vy = load(lanes.vy);
            foldSides<BUILT, false, true>(g, lanes, first, last, begin, end, vx, vy);
        }
    }
    store(lanes.vx, vx);
    store(lanes.vy, vy);
}

void exactFold(const ExactView& g, ExactLanes& lanes, int32_t first, int32_t last, int32_t begin, int32_t end,
               bool ranged) {
    if (HAS_BUILT_DIVISION && g.builtDivision) {
        foldGroup<HAS_BUILT_DIVISION>(g, lanes, first, last, begin, end, ranged);
    } else {
        foldGroup<false>(g, lanes, first, last, begin, end, ranged);
    }
}

// The symmetric tiles: each pair of a row i and a column j, i < j, formed once. Seen from the row
// the partner comes after it, seen from the column before it; both take the same difference
// j - i, offsets, root, force and sign, and differ in the divisor (their own mass times r) and in
// the sign of the step. A pair that does not take part gives -0, which added to any velocity
// leaves it as it was, as no addition would.
//
// The lanes are rows, and run skewed: at step s lane m takes pair number s - m of its row group's
// sequence (row group by row group, each over the columns in ascending order). So every row meets
// its columns in ascending order, and every column meets lanes 0 to 7 of a row group on eight
// consecutive steps, in ascending row order too: its running velocity rides up the lanes of a
// vector, one lane a step, and leaves from lane 7 for memory until the next row group reaches it.

// What a tile's pairs check before their terms count: nothing (no particle of the tile is cut,
// none pads), the cuts, or the cuts and r > 0. Where the first two meet a coincident pair (0 times
// infinity), the tile runs again fully guarded.
enum class TileGuard { None, Cuts, Full };

// The rows a lane holds (changed one lane at a time as lanes reach their next row group).
struct TileRows {
    V x;
    V y;
    V mass;
    V massG;
    V pos;
    V cut;
    V vx;
    V vy;
};

// The columns of a tile as the skewed lanes read them: entry u holds column (-u) mod count, so that
// the lanes of step s, which take columns (s - m) mod count, are eight consecutive entries.
struct TileColumns {
    alignas(64) double x[EXACT_TILE + EXACT_LANES];
    alignas(64) double y[EXACT_TILE + EXACT_LANES];
    alignas(64) double mass[EXACT_TILE + EXACT_LANES];
    alignas(64) double pos[EXACT_TILE + EXACT_LANES];
    alignas(64) double cut[EXACT_TILE + EXACT_LANES];
};

template <TileGuard GUARD>
void gatherColumns(const ExactView& g, int32_t colBegin, int32_t count, TileColumns& c) {
    // Entry 0 is column 0, entries 1..count columns count - 1 down to 0, then count - 1 down again.
    for (int32_t u = 0; u < count + EXACT_LANES; ++u) {
        const int32_t offset = u == 0 ? 0 : u <= count ? count - u : 2 * count - u;
        const ExactPartner& p = g.partner[colBegin + offset];
        c.x[u] = p.x;
        c.y[u] = p.y;
        c.mass[u] = p.mass;
        if constexpr (GUARD != TileGuard::None) {
            c.pos[u] = colBegin + offset;
            c.cut[u] = p.cut;
        }
    }
}

// Lane m takes row `row` (and its velocity from vx, vy).
inline void enterRow(const ExactView& g, TileRows& r, int32_t m, int32_t row, const double* vx, const double* vy) {
    const ExactPartner& p = g.partner[row];
    r.x = withLane(r.x, m, p.x);
    r.y = withLane(r.y, m, p.y);
    r.mass = withLane(r.mass, m, p.mass);
    r.massG = withLane(r.massG, m, p.massG);
    r.pos = withLane(r.pos, m, row);
    r.cut = withLane(r.cut, m, p.cut);
    r.vx = withLane(r.vx, m, vx[row]);
    r.vy = withLane(r.vy, m, vy[row]);
}

template <bool BUILT, TileGuard GUARD>
KERNEL_INLINE void skewedStep(const TileRows& r, const TileColumns& c, int32_t u, const FieldConstants& l, V& rowX,
                              V& rowY, V& columnX, V& columnY) {
    const V xp = load(c.x + u);
    const V yp = load(c.y + u);
    const V mp = load(c.mass + u);
    const V differenceX = xp - r.x;
    const V differenceY = yp - r.y;
    const V dx = vabs(differenceX);
    const V dy = vabs(differenceY);
    const V wx = l.width - dx;
    const V wy = l.height - dy;
    const V ox = vmin(wx, dx);
    const V oy = vmin(wy, dy);
    const V rr = squareRoot<BUILT>(vmin(wx * wx, dx * dx) + vmin(wy * wy, dy * dy));
    const V q = quotient<BUILT>(r.massG * mp, rr * rr);
    const V oxq = ox * q;
    const V oyq = oy * q;
    V rowQx{};
    V rowQy{};
    V columnQx{};
    V columnQy{};
    quotients<BUILT>(oxq, oyq, r.mass * rr, rowQx, rowQy);
    quotients<BUILT>(oxq, oyq, mp * rr, columnQx, columnQy);
    const V signX = bitXor(differenceX, wx - dx);
    const V signY = bitXor(differenceY, wy - dy);
    if constexpr (GUARD != TileGuard::None) {
        M take = lessThan(r.pos, load(c.cut + u)) & lessThan(load(c.pos + u), r.cut);
        if constexpr (GUARD == TileGuard::Full) take = take & greaterThan(rr, broadcast(0.0));
        rowX = rowX + flipSignByWhere(take, signX, rowQx * l.step);
        rowY = rowY + flipSignByWhere(take, signY, rowQy * l.step);
        columnX = columnX + flipSignByWhere(take, signX, columnQx * l.negativeStep);
        columnY = columnY + flipSignByWhere(take, signY, columnQy * l.negativeStep);
    } else {
        rowX = rowX + flipSignBy(signX, rowQx * l.step);
        rowY = rowY + flipSignBy(signY, rowQy * l.step);
        columnX = columnX + flipSignBy(signX, columnQx * l.negativeStep);
        columnY = columnY + flipSignBy(signY, columnQy * l.negativeStep);
    }
}

// The merge of the row and the column lane m holds, from their velocities just before it.
inline void mergeLanes(const ExactView& g, const ExactTileEvent& e, V& rowX, V& rowY, V& columnX, V& columnY) {
    alignas(64) double lanes[4][EXACT_LANES];
    store(lanes[0], rowX);
    store(lanes[1], rowY);
    store(lanes[2], columnX);
    store(lanes[3], columnY);
    const double mx = g.mergedVelocity(lanes[0][e.lane], e.massI, lanes[2][e.lane], e.massJ);
    const double my = g.mergedVelocity(lanes[1][e.lane], e.massI, lanes[3][e.lane], e.massJ);
    rowX = withLane(rowX, e.lane, e.jSurvives ? 0.0 : mx);
    rowY = withLane(rowY, e.lane, e.jSurvives ? 0.0 : my);
    columnX = withLane(columnX, e.lane, e.jSurvives ? mx : 0.0);
    columnY = withLane(columnY, e.lane, e.jSurvives ? my : 0.0);
}

// Lane m has done its row group's last column: its row's velocity goes back to memory and the
// lane takes its row of the next group, if any.
inline void nextRow(const ExactView& g, TileRows& r, int32_t m, int32_t group, int32_t groups, int32_t rowBegin,
                    double* vx, double* vy) {
    if (group > 0) {
        const int32_t done = rowBegin + (group - 1) * EXACT_LANES + m;
        storeLane(vx + done, r.vx, m);
        storeLane(vy + done, r.vy, m);
    }
    if (group < groups) enterRow(g, r, m, rowBegin + group * EXACT_LANES + m, vx, vy);
}

// The columns' running velocities riding up the lanes: each enters lane 0 from memory and leaves
// lane 7 for it, a row group's terms later.
struct RidingColumns {
    double* vx;
    double* vy;
    V x;
    V y;

    RidingColumns(double* columnVx, double* columnVy)
        : vx(columnVx), vy(columnVy), x(broadcast(entering(columnVx[0]))), y(broadcast(entering(columnVy[0]))) {}

#ifdef ORRELUNE_MISORDER_COLUMN_TERMS
    // The tests' copy of the kernels alone: a row group's terms summed apart, then added to the
    // column, an order of additions the comparisons must catch.
    static double entering(double) { return -0.0; }
    void leave(int32_t column) {
        alignas(64) double sums[2][EXACT_LANES];
        store(sums[0], x);
        store(sums[1], y);
        vx[column] = vx[column] + sums[0][EXACT_LANES - 1];
        vy[column] = vy[column] + sums[1][EXACT_LANES - 1];
    }
#else
    static double entering(double velocity) { return velocity; }
    void leave(int32_t column) {
        storeLane(vx + column, x, EXACT_LANES - 1);
        storeLane(vy + column, y, EXACT_LANES - 1);
    }
#endif
    void enter(int32_t column) {
        x = shiftIn(x, entering(vx[column]));
        y = shiftIn(y, entering(vy[column]));
    }
};

// Rows [rowBegin, rowEnd) against columns [colBegin, colEnd), every row below every column, all
// four multiples of EXACT_LANES.
template <bool BUILT, TileGuard GUARD>
void tileTerms(const ExactView& g, int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd, double* vx,
               double* vy, const ExactTileEvent* events, int32_t eventCount) {
    const int32_t columns = colEnd - colBegin;
    const int32_t groups = (rowEnd - rowBegin) / EXACT_LANES;
    TileColumns c;
    gatherColumns<GUARD>(g, colBegin, columns, c);
    const FieldConstants l = fieldConstants(g);
    // Lanes that hold no row yet (the first steps) or no more (the last) compute what they like:
    // their row velocities are replaced or were stored before, their column ones never stored.
    const V zero = broadcast(0.0);
    const V one = broadcast(1.0);
    TileRows r{zero, zero, one, zero, zero, zero, zero, zero};
    RidingColumns riding(vx + colBegin, vy + colBegin);
    const int32_t steps = groups * columns + EXACT_LANES - 1;
    // Lane 0's column (the step mod columns) and row group.
    int32_t m = 0;
    int32_t group = 0;
    for (int32_t s = 0; s < steps; ++s) {
        if (m < EXACT_LANES) nextRow(g, r, m, group, groups, rowBegin, vx, vy);
        skewedStep<BUILT, GUARD>(r, c, m == 0 ? 0 : columns - m, l, r.vx, r.vy, riding.x, riding.y);
        // A merging pair is past its own cut and took no term; the merge replaces both velocities.
        if constexpr (GUARD != TileGuard::None) {
            for (; eventCount > 0 && events->step == s; ++events, --eventCount)
                mergeLanes(g, *events, r.vx, r.vy, riding.x, riding.y);
        }
        // Lane 7 has given its column the row group's last term.
        if (s >= EXACT_LANES - 1) riding.leave(m >= EXACT_LANES - 1 ? m - (EXACT_LANES - 1) : m + columns - (EXACT_LANES - 1));
        if (++m == columns) {
            m = 0;
            ++group;
        }
        riding.enter(m);
    }
    // The last lane's last row.
    storeLane(vx + rowEnd - 1, r.vx, EXACT_LANES - 1);
    storeLane(vy + rowEnd - 1, r.vy, EXACT_LANES - 1);
}

// Run unguarded or with the cuts alone, a coincident pair gives NaN (0 times infinity), even one
// the cuts leave out, whose NaN then never reaches a velocity; where one did, the tile runs again
// fully guarded from the velocities it started with.
template <bool BUILT>
void tileGroup(const ExactView& g, int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd, double* vx,
               double* vy, bool guarded, const ExactTileEvent* events, int32_t eventCount) {
    const int32_t rows = rowEnd - rowBegin;
    const int32_t cols = colEnd - colBegin;
    alignas(64) double saved[4][EXACT_TILE];
    for (int32_t k = 0; k < rows; ++k) {
        saved[0][k] = vx[rowBegin + k];
        saved[1][k] = vy[rowBegin + k];
    }
    for (int32_t k = 0; k < cols; ++k) {
        saved[2][k] = vx[colBegin + k];
        saved[3][k] = vy[colBegin + k];
    }
    if (guarded) {
        tileTerms<BUILT, TileGuard::Cuts>(g, rowBegin, rowEnd, colBegin, colEnd, vx, vy, events, eventCount);
    } else {
        tileTerms<BUILT, TileGuard::None>(g, rowBegin, rowEnd, colBegin, colEnd, vx, vy, nullptr, 0);
    }
    M nan = notANumber(broadcast(0.0));
    for (int32_t k = 0; k < rows; k += EXACT_LANES)
        nan = nan | notANumber(load(vx + rowBegin + k)) | notANumber(load(vy + rowBegin + k));
    for (int32_t k = 0; k < cols; k += EXACT_LANES)
        nan = nan | notANumber(load(vx + colBegin + k)) | notANumber(load(vy + colBegin + k));
    if (!anyLane(nan)) return;
    for (int32_t k = 0; k < rows; ++k) {
        vx[rowBegin + k] = saved[0][k];
        vy[rowBegin + k] = saved[1][k];
    }
    for (int32_t k = 0; k < cols; ++k) {
        vx[colBegin + k] = saved[2][k];
        vy[colBegin + k] = saved[3][k];
    }
    tileTerms<BUILT, TileGuard::Full>(g, rowBegin, rowEnd, colBegin, colEnd, vx, vy, events, eventCount);
}

void exactTile(const ExactView& g, int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd, double* vx,
               double* vy, bool guarded, const ExactTileEvent* events, int32_t eventCount) {
    if (HAS_BUILT_DIVISION && g.builtDivision) {
        tileGroup<HAS_BUILT_DIVISION>(g, rowBegin, rowEnd, colBegin, colEnd, vx, vy, guarded, events, eventCount);
    } else {
        tileGroup<false>(g, rowBegin, rowEnd, colBegin, colEnd, vx, vy, guarded, events, eventCount);
    }
}
