// The exact engine's fold, written once over the 8-lane vector type V with mask type M of the
// fast kernels (fast_kernel_body.h), one lane a particle. Only + - * / sqrt, comparisons,
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

// The values of the lanes, and the constants, for one fold.
struct LaneValues {
    V xk;
    V yk;
    V mk;
    V mgk;
    V pos;
    V from;
    V to;
    V width;
    V height;
    V step;
    V negativeStep;
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
    const LaneValues l{load(lanes.x),      load(lanes.y),       load(lanes.mass), load(lanes.massG),
                       load(lanes.pos),    load(lanes.from),    load(lanes.to),   broadcast(g.width),
                       broadcast(g.height), broadcast(g.timeStep), broadcast(-g.timeStep)};
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
