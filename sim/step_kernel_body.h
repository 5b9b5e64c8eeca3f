// The gravity kernels written once over an 8-lane vector type V with mask type M. Included by
// each instruction-set file inside an anonymous namespace after it has defined V, M and their
// operations, so that nothing compiled for one instruction set can stand in for another.
// Every operation is the same in every lane layout, which keeps the three kernels bit-identical.

constexpr int32_t LANES = 8;

// Lanes summed in one fixed tree, the same for every instruction set.
inline double laneSum(V a) {
    double l[LANES];
    store(l, a);
    return ((l[0] + l[1]) + (l[2] + l[3])) + ((l[4] + l[5]) + (l[6] + l[7]));
}

// The signed shortest offset of a from b, as the literal step's offset times its sign gives it.
inline V shortOffset(V a, V b, V extent, V zero) {
    V d = a - b;
    V ad = vabs(d);
    V other = extent - ad;
    return select(lessThan(other, ad), select(greaterThan(d, zero), negate(other), other), d);
}

inline V laneIndex() {
    alignas(64) static const double index[LANES] = {0, 1, 2, 3, 4, 5, 6, 7};
    return load(index);
}

template <bool DIAGONAL, bool MASKED>
void tilePair(const GravityView& g, int32_t i0, int32_t j0, double* outIx, double* outIy, double* outJx,
              double* outJy) {
    const V zero = broadcast(0.0);
    const V one = broadcast(1.0);
    const V width = broadcast(g.width);
    const V height = broadcast(g.height);
    const V lanes = laneIndex();
    for (int32_t ii = 0; ii < KERNEL_TILE && i0 + ii < g.count; ++ii) {
        const int32_t i = i0 + ii;
        const V xi = broadcast(g.x[i]);
        const V yi = broadcast(g.y[i]);
        const V gmi = broadcast(g.gm[i]);
        const V idxi = broadcast(g.idx[i]);
        const V cuti = broadcast(g.cut[i]);
        const V self = broadcast(static_cast<double>(ii));
        V ax = zero;
        V ay = zero;
        // On the diagonal only partners after i count; whole vectors before it are skipped.
        const int32_t first = DIAGONAL ? ((ii + 1) / LANES) * LANES : 0;
        for (int32_t jj = first; jj < KERNEL_TILE; jj += LANES) {
            const int32_t j = j0 + jj;
            const V sx = shortOffset(xi, load(g.x + j), width, zero);
            const V sy = shortOffset(yi, load(g.y + j), height, zero);
            const V r2 = sx * sx + sy * sy;
            const V inv3 = one / (r2 * vsqrt(r2));
            // Coincident particles pull on nothing; padding has NaN positions and fails this too.
            M ok = greaterThan(r2, zero);
            if constexpr (DIAGONAL) ok = ok & greaterThan(lanes + broadcast(static_cast<double>(jj)), self);
            if constexpr (MASKED) ok = ok & lessThan(load(g.idx + j), cuti) & lessThan(idxi, load(g.cut + j));
            const V tx = select(ok, sx * inv3, zero);
            const V ty = select(ok, sy * inv3, zero);
            const V gmj = load(g.gm + j);
            ax = ax - gmj * tx;
            ay = ay - gmj * ty;
            store(outJx + jj, load(outJx + jj) + gmi * tx);
            store(outJy + jj, load(outJy + jj) + gmi * ty);
        }
        outIx[ii] = outIx[ii] + laneSum(ax);
        outIy[ii] = outIy[ii] + laneSum(ay);
    }
}

template <bool MASKED>
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
    for (int32_t i0 = aBegin; i0 < aEnd && i0 < g.count; i0 += KERNEL_TILE) {
        for (int32_t j0 = a == b ? i0 : bBegin; j0 < bEnd && j0 < g.count; j0 += KERNEL_TILE) {
            double* iX = aX + (i0 - aBegin);
            double* iY = aY + (i0 - aBegin);
            double* jX = bX + (j0 - bBegin);
            double* jY = bY + (j0 - bBegin);
            if (i0 == j0) {
                tilePair<true, MASKED>(g, i0, j0, iX, iY, jX, jY);
            } else {
                tilePair<false, MASKED>(g, i0, j0, iX, iY, jX, jY);
            }
        }
    }
}

void pairTask(const GravityView& g, int32_t a, int32_t b) {
    if (g.masked) {
        blockPair<true>(g, a, b);
    } else {
        blockPair<false>(g, a, b);
    }
}

void partnerSum(const GravityView& g, int32_t p, int32_t begin, int32_t end, double sum[2]) {
    const V zero = broadcast(0.0);
    const V one = broadcast(1.0);
    const V width = broadcast(g.width);
    const V height = broadcast(g.height);
    const V lanes = laneIndex();
    const V xp = broadcast(g.x[p]);
    const V yp = broadcast(g.y[p]);
    const V idxp = broadcast(g.idx[p]);
    const V cutp = broadcast(g.cut[p]);
    const V from = broadcast(static_cast<double>(begin));
    const V to = broadcast(static_cast<double>(end));
    V ax = zero;
    V ay = zero;
    for (int32_t j = (begin / LANES) * LANES; j < end; j += LANES) {
        const V sx = shortOffset(xp, load(g.x + j), width, zero);
        const V sy = shortOffset(yp, load(g.y + j), height, zero);
        const V r2 = sx * sx + sy * sy;
        const V inv3 = one / (r2 * vsqrt(r2));
        const V at = lanes + broadcast(static_cast<double>(j));
        M ok = greaterThan(r2, zero) & lessThan(at, to) & lessThan(from, at + one);
        ok = ok & lessThan(load(g.idx + j), cutp) & lessThan(idxp, load(g.cut + j));
        const V gmj = load(g.gm + j);
        ax = ax - gmj * select(ok, sx * inv3, zero);
        ay = ay - gmj * select(ok, sy * inv3, zero);
    }
    sum[0] = laneSum(ax);
    sum[1] = laneSum(ay);
}
