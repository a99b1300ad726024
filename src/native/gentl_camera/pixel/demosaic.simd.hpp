// Bilinear demosaic to BGR with OpenCV's arithmetic (kernels.hpp), fused
// with the depth reduction: each mosaic row is brought to 8 bits once, into
// a ring of three rows that stays in L1, and the 8-bit mosaic is never
// written out. Included by kernels.simd.hpp.

// Row r of the frame at 8 bits: a pointer into the source for 8-bit
// samples, else into buf (width + 8 bytes), where the row is decoded.
inline const u8 *mosaic_row(const MosaicFrame &f, std::size_t r, u8 *buf) {
    const std::size_t first = r * f.width;
    if (f.packing == Packing::none) {
        if (f.bits == 8) return f.src + first;
        shift8(f.src + 2 * first, f.bits - 8, buf, f.width);
        return buf;
    }
    // A packed row may start inside a group: decode from the group's start.
    const Plan<u8> p = plan8(f.packing, f.bits);
    const std::size_t lead = first % p.samples, offset = first / p.samples * p.bytes;
    run(p, f.src + offset, f.src_len - offset, buf, lead + f.width);
    return buf + lead;
}

// Output pixel x (0 < x < width - 1) of centre row b, between rows a and c.
// A green pixel takes the mean of its two row neighbours for the colour of
// its row, of its two column neighbours for the other; a red or blue pixel
// takes the mean of the four beside it for green, of the four diagonal to it
// for the other colour. `red`: the row holds red samples.
VANTIX_INLINE void demosaic_pixel(const u8 *a, const u8 *b, const u8 *c, std::size_t x, bool green,
                                  bool red, u8 *out) {
    // Sums of bytes in unsigned arithmetic: a byte would promote to int.
    auto at = [](const u8 *row, std::size_t i) { return unsigned{row[i]}; };
    unsigned g, row_colour, other;
    if (green) {
        g = at(b, x);
        row_colour = (at(b, x - 1) + at(b, x + 1) + 1) >> 1;
        other = (at(a, x) + at(c, x) + 1) >> 1;
    } else {
        g = (at(a, x) + at(c, x) + at(b, x - 1) + at(b, x + 1) + 2) >> 2;
        row_colour = at(b, x);
        other = (at(a, x - 1) + at(a, x + 1) + at(c, x - 1) + at(c, x + 1) + 2) >> 2;
    }
    out[0] = static_cast<u8>(red ? other : row_colour);
    out[1] = static_cast<u8>(g);
    out[2] = static_cast<u8>(red ? row_colour : other);
}

// Pixels [begin, end) of an output row; green0: pixel 0 of the row is green.
inline void demosaic_span(const u8 *a, const u8 *b, const u8 *c, std::size_t begin, std::size_t end,
                          bool green0, bool red, u8 *out) {
    for (std::size_t x = begin; x < end; ++x)
        demosaic_pixel(a, b, c, x, ((x & 1) == 0) == green0, red, out + 3 * x);
}

#if VANTIX_VEC
// kVec pixels from x on, x a red or blue pixel, so that each 16-bit word
// holds a red or blue pixel (low byte) and a green one (high byte). The
// four-sample means are taken in the words, the two-sample ones (exact in
// bytes) with the byte average. Reads columns x - 1 .. x + kVec.
VANTIX_INLINE void demosaic_vec(const u8 *a, const u8 *b, const u8 *c, std::size_t x, bool red,
                                u8 *out) {
    const Vec low = splat16(0x00FF), high = splat16(-256), two = splat16(2);
    // Low bytes: the left neighbours; high bytes: the pixels above and below.
    const Vec a0 = load(a + x - 1), c0 = load(c + x - 1), b0 = load(b + x - 1);
    // Low bytes: the right neighbours.
    const Vec a2 = load(a + x + 1), c2 = load(c + x + 1), b2 = load(b + x + 1);
    const Vec own = load(b + x);
    const Vec diagonal = shr16<2>(add16(add16(and_(a0, low), and_(a2, low)),
                                        add16(add16(and_(c0, low), and_(c2, low)), two)));
    const Vec beside = shr16<2>(
        add16(add16(shr16<8>(a0), shr16<8>(c0)), add16(add16(and_(b0, low), and_(b2, low)), two)));
    const Vec g = blend8(beside, own, high);
    const Vec row_colour = blend8(own, avg8(b0, b2), high);
    const Vec other = blend8(diagonal, avg8(load(a + x), load(c + x)), high);
    store_planes(red ? other : row_colour, g, red ? row_colour : other, out + 3 * x);
}
#endif

// Output row from mosaic rows a, b (its own) and c, width >= 3; the first
// and last pixels repeat their neighbours.
inline void demosaic_row(const u8 *a, const u8 *b, const u8 *c, std::size_t width, bool green0,
                         bool red, u8 *out) {
    std::size_t x = 1;
#if VANTIX_VEC
    // Start the vectors on the first red or blue pixel.
    if (!green0) {
        demosaic_span(a, b, c, 1, 2, green0, red, out);
        x = 2;
    }
    for (; x + kVec + 1 <= width; x += kVec) demosaic_vec(a, b, c, x, red, out);
#endif
    demosaic_span(a, b, c, x, width - 1, green0, red, out);
    std::memcpy(out, out + 3, 3);
    std::memcpy(out + 3 * (width - 1), out + 3 * (width - 2), 3);
}

void demosaic_rows(const MosaicFrame &f, std::size_t row_begin, std::size_t row_end, u8 *dst,
                   u8 *scratch) {
    const std::size_t width = f.width, height = f.height;
    if (width < 3 || height < 3) {
        std::memset(dst + 3 * width * row_begin, 0, 3 * width * (row_end - row_begin));
        return;
    }
    const bool green_first = f.mosaic == Mosaic::gr || f.mosaic == Mosaic::gb;
    const bool red_first = f.mosaic == Mosaic::rg || f.mosaic == Mosaic::gr;
    // Mosaic row r is rows[r % 3] once loaded; rows are loaded in order, up to `next`.
    const u8 *rows[3] = {};
    std::size_t next = std::min(std::max<std::size_t>(row_begin, 1), height - 2) - 1;
    for (std::size_t y = row_begin; y < row_end; ++y) {
        // The outermost rows repeat their inner neighbours.
        const std::size_t e = std::min(std::max<std::size_t>(y, 1), height - 2);
        for (; next <= e + 1; ++next)
            rows[next % 3] = mosaic_row(f, next, scratch + next % 3 * (width + 8));
        const bool odd = e & 1;
        demosaic_row(rows[(e - 1) % 3], rows[e % 3], rows[(e + 1) % 3], width, green_first != odd,
                     red_first != odd, dst + 3 * width * y);
    }
}
