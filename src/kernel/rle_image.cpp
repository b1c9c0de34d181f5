// Run-length image: encoding windows, decoding, copying, transposing and reflecting.
//
// Every operation builds its result into raw storage with nothing left alive on failure, and the
// operations on a constructed destination swap the result in only at the end, so a failure leaves
// the destination as it was.
#include "kip/rle_image.h"

#include <algorithm>
#include <cstring>

#include "frame/cleanup.hpp"
#include "frame/geometry.hpp"
#include "platform/assert.hpp"
#include "platform/typecheck.hpp"

using kip::Cleanup;
using kip::failed;

namespace {

using Rows = kstd_vector_kip_rleRow8;
using Blocks = kstd_vector_kip_rleRun8Ptr;

// Where the next row's runs go: the unused rest of the newest block.
struct RunSpace {
    Blocks* blocks;
    kip_rleRun8* position;
    int64_t left;
};

// Collects one row's pixels into runs of at most 255, then closes the row with the terminator.
class RowWriter {
public:
    RowWriter(kip_rleRun8* start, uint8_t first) : start_(start), out_(start), value_(first) {}
    void push(uint8_t v) {
        if (length_ < 255 && v == value_) {
            ++length_;
            return;
        }
        *out_++ = kip_rleRun8{value_, static_cast<uint8_t>(length_)};
        value_ = v;
        length_ = 1;
    }
    int32_t finish() {
        *out_++ = kip_rleRun8{value_, static_cast<uint8_t>(length_)};
        *out_++ = kip_rleRun8{0, 0};
        return static_cast<int32_t>(out_ - start_);
    }

private:
    kip_rleRun8* start_;
    kip_rleRun8* out_;
    uint8_t value_;
    uint32_t length_ = 0;
};

// Allocates a block of runs and hands it to the block list, which then owns it.
kip_status appendBlock(Blocks* blocks, int64_t runs, kip_rleRun8** block) {
    void* raw = nullptr;
    kip_status s = ksys_memory_alloc_internal(static_cast<size_t>(runs) * sizeof(kip_rleRun8), &raw);
    if (failed(s)) return s;
    kip_rleRun8* fresh = static_cast<kip_rleRun8*>(raw);
    Cleanup<1> c;
    c.addBlock(ksys_cleanupFreeOnFailure, &fresh);
    s = kstd_vector_kip_rleRun8Ptr_pushBack(blocks, &fresh);
    if (!failed(s)) *block = fresh;
    return c.finish(s);
}

// Sets the position and size and constructs zeroed rows and an empty block list.
kip_status constructParts(kip_rleImage8* image, int32_t x, int32_t y, int32_t width, int32_t height) {
    image->x = x;
    image->y = y;
    image->width = width;
    image->height = height;
    kip_status s = kstd_vector_kip_rleRow8_construct(&image->rows, height);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<Rows, &kstd_vector_kip_rleRow8_destruct>(ksys_cleanupDestroyOnFailure, &image->rows);
    s = kstd_vector_kip_rleRun8Ptr_constructEmpty(&image->blocks);
    return c.finish(s);
}

void closeRow(RowWriter& writer, kip_rleRow8* row, RunSpace* space) {
    row->runs = space->position;
    row->count = writer.finish();
    space->position += row->count;
    space->left -= row->count;
}

}  // namespace

// A row of w pixels needs at most w + 1 runs. A new block holds 30 runs for each of the n rows
// still to write (capped at what those rows could ever use) and at least one whole row, so a mask
// costs few allocations and rows never span blocks. Measured (rle_bench): a 31 x 31 disc kernel
// uses 4 runs a row and takes one block; a thresholded 4096-line scene about 32 a row, one block
// per ~32 rows (127 in all); thresholded noise 2050 a row, 452 blocks. So kernel masks cost one
// allocation, natural image masks a few per hundred rows, at most 60 bytes a row left unused.
static kip_status kip_rleImage8_reserveRuns_(RunSpace* space, int32_t w, int32_t n) {
    const int64_t need = int64_t{w} + 1;
    if (space->left >= need) return 0;
    const int64_t runs = std::max(std::min(30 * int64_t{n} + 1, need * n), need);
    kip_rleRun8* block = nullptr;
    kip_status s = appendBlock(space->blocks, runs, &block);
    if (failed(s)) return s;
    space->position = block;
    space->left = runs;
    return s;
}

static void kip_rleImage8_encodeRow_(const uint8_t* pixels, int32_t w, kip_rleRow8* row, RunSpace* space) {
    RowWriter writer(space->position, pixels[0]);
    for (int32_t i = 0; i < w; ++i) writer.push(pixels[i]);
    closeRow(writer, row, space);
}

namespace {

kip_status buildFromWindow(kip_rleImage8* image, const kimg_windowConst* window) {
    const kstd_rect32& r = window->rect;
    const bool empty = window->image == nullptr || window->pixels == nullptr || r.width <= 0 || r.height <= 0;
    if (!empty && window->bytesPerPixel != 1) return kimg_errDepthMismatch;
    kip_status s = constructParts(image, r.x, r.y, empty ? 0 : r.width, empty ? 0 : r.height);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyOnFailure, image);
    kip_rleRow8* rows = nullptr;
    s = kstd_vector_kip_rleRow8_getBegin(&image->rows, &rows);
    if (failed(s)) return c.finish(s);
    RunSpace space{&image->blocks, nullptr, 0};
    for (int32_t i = 0; i < image->height; ++i) {
        s = kip_rleImage8_reserveRuns_(&space, image->width, image->height - i);
        if (failed(s)) return c.finish(s);
        kip_rleImage8_encodeRow_(kip::pixelAt<uint8_t>(*window, r.x, int64_t{r.y} + i), image->width, &rows[i], &space);
    }
    return c.finish(s);
}

// Copies the rows of source into one block, either as they are or turned by a half turn (rows
// in reverse order, each row's runs reversed before its terminator).
kip_status buildRepacked(kip_rleImage8* image, const kip_rleImage8* source, bool reflect) {
    const kip_rleRow8* from = nullptr;
    int32_t n = 0;
    kip_status s = kstd_vector_kip_rleRow8_getBeginSize32Const(&source->rows, &from, &n);
    if (failed(s)) return s;
    KIP_ASSERT(n == source->height);
    int64_t total = 0;
    for (int32_t i = 0; i < n; ++i) total += from[i].count;
    s = constructParts(image, source->x, source->y, source->width, n);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyOnFailure, image);
    kip_rleRow8* rows = nullptr;
    s = kstd_vector_kip_rleRow8_getBegin(&image->rows, &rows);
    if (failed(s)) return c.finish(s);
    kip_rleRun8* out = nullptr;
    if (total > 0) {
        s = appendBlock(&image->blocks, total, &out);
        if (failed(s)) return c.finish(s);
    }
    for (int32_t i = 0; i < n; ++i) {
        const kip_rleRow8& row = from[reflect ? n - 1 - i : i];
        rows[i].count = row.count;
        rows[i].runs = out;
        if (reflect) {
            std::reverse_copy(row.runs, row.runs + row.count - 1, out);
            out[row.count - 1] = kip_rleRun8{0, 0};
        } else {
            std::memcpy(out, row.runs, static_cast<size_t>(row.count) * sizeof(kip_rleRun8));
        }
        out += row.count;
    }
    return c.finish(s);
}

// A source row's read position while its columns are consumed left to right.
struct Cursor {
    const kip_rleRun8* run;
    int32_t left;
};

kip_status buildTranspose(kip_rleImage8* image, const kip_rleImage8* source) {
    const kip_rleRow8* from = nullptr;
    int32_t n = 0;
    kip_status s = kstd_vector_kip_rleRow8_getBeginSize32Const(&source->rows, &from, &n);
    if (failed(s)) return s;
    KIP_ASSERT(n == source->height);
    s = constructParts(image, source->y, source->x, n, n > 0 ? source->width : 0);
    if (failed(s)) return s;
    Cleanup<2> c;
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyOnFailure, image);
    kip_rleRow8* rows = nullptr;
    s = kstd_vector_kip_rleRow8_getBegin(&image->rows, &rows);
    if (failed(s)) return c.finish(s);
    void* raw = nullptr;
    s = ksys_memory_alloc_internal(static_cast<size_t>(n) * sizeof(Cursor), &raw);
    if (failed(s)) return c.finish(s);
    Cursor* cursors = static_cast<Cursor*>(raw);
    c.addBlock(ksys_cleanupFreeAlways, &cursors);
    for (int32_t r = 0; r < n; ++r) cursors[r] = Cursor{from[r].runs, from[r].runs[0].length};
    RunSpace space{&image->blocks, nullptr, 0};
    for (int32_t col = 0; col < image->height; ++col) {
        s = kip_rleImage8_reserveRuns_(&space, image->width, image->height - col);
        if (failed(s)) return c.finish(s);
        RowWriter writer(space.position, cursors[0].run->value);
        for (int32_t r = 0; r < n; ++r) {
            Cursor& cur = cursors[r];
            writer.push(cur.run->value);
            if (--cur.left == 0) cur.left = (++cur.run)->length;
        }
        closeRow(writer, &rows[col], &space);
    }
    return c.finish(s);
}

}  // namespace

extern "C" {

kip_status kip_rleImage8_construct(kip_rleImage8* image) {
    KIP_REQUIRE(image);
    return constructParts(image, 0, 0, 0, 0);
}

kip_status kip_rleImage8_constructCopy(kip_rleImage8* image, const kip_rleImage8* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    return buildRepacked(image, source, false);
}

kip_status kip_rleImage8_assign(kip_rleImage8* image, const kip_rleImage8* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    kip_rleImage8 built;
    kip_status s = buildRepacked(&built, source, false);
    return failed(s) ? s : kip::replaceWithBuilt<kip_rleImage8, &kip_rleImage8_destruct>(image, &built);
}

kip_status kip_rleImage8_destruct(kip_rleImage8* image) {
    KIP_REQUIRE(image);
    kip_status first = kstd_vector_kip_rleRow8_destruct(&image->rows);
    kip_rleRun8Ptr* blocks = nullptr;
    int32_t n = 0;
    kip_status s = kstd_vector_kip_rleRun8Ptr_getBeginSize32(&image->blocks, &blocks, &n);
    if (failed(s) && !failed(first)) first = s;
    for (int32_t i = 0; i < n; ++i) {
        void* block = blocks[i];
        ksys_memory_free_internal(&block);
    }
    s = kstd_vector_kip_rleRun8Ptr_destruct(&image->blocks);
    return failed(first) ? first : s;
}

kip_status kip_rleImage8_constructWindow(kip_rleImage8* image, const kimg_windowConst* window) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(window);
    return buildFromWindow(image, window);
}

kip_status kip_rleImage8_constructImage(kip_rleImage8* image, const kimg_imageConst* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    kimg_windowConst window;
    kip_status s = kimg_windowConst_init(&window, source);
    return failed(s) ? s : buildFromWindow(image, &window);
}

kip_status kip_rleImage8_constructWindowTranspose(kip_rleImage8* image, const kimg_windowConst* window) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(window);
    kip_rleImage8 encoded;
    kip_status s = buildFromWindow(&encoded, window);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyAlways, &encoded);
    return c.finish(buildTranspose(image, &encoded));
}

kip_status kip_rleImage8_constructWindowReflectAndTranspose(kip_rleImage8* image, const kimg_windowConst* window) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(window);
    kip_rleImage8 encoded, reflected;
    kip_status s = buildFromWindow(&encoded, window);
    if (failed(s)) return s;
    Cleanup<2> c;
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyAlways, &encoded);
    s = buildRepacked(&reflected, &encoded, true);
    if (failed(s)) return c.finish(s);
    c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyAlways, &reflected);
    return c.finish(buildTranspose(image, &reflected));
}

kip_status kip_rleImage8_encodeWindow(kip_rleImage8* image, const kimg_windowConst* window) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(window);
    kip_rleImage8 built;
    kip_status s = buildFromWindow(&built, window);
    return failed(s) ? s : kip::replaceWithBuilt<kip_rleImage8, &kip_rleImage8_destruct>(image, &built);
}

kip_status kip_rleImage8_encode(kip_rleImage8* image, const kimg_imageConst* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    kimg_windowConst window;
    kip_status s = kimg_windowConst_init(&window, source);
    return failed(s) ? s : kip_rleImage8_encodeWindow(image, &window);
}

kip_status kip_rleImage8_decode(const kip_rleImage8* image, kimg_image* out) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(out);
    if (image->width <= 0 || image->height <= 0) return kimg_image_assignUnbound(out);
    const kip_rleRow8* rows = nullptr;
    int32_t n = 0;
    kip_status s = kstd_vector_kip_rleRow8_getBeginSize32Const(&image->rows, &rows, &n);
    if (failed(s)) return s;
    KIP_ASSERT(n == image->height);
    const kstd_rect32 rect{image->x, image->y, image->width, image->height};
    s = kimg_image_assignNewRect(out, 1, &rect);
    if (failed(s)) return s;
    kimg_window window;
    s = kimg_window_init(&window, out);
    if (failed(s)) return s;
    for (int32_t i = 0; i < n; ++i) {
        uint8_t* line = kip::mutablePixelAt<uint8_t>(window, rect.x, int64_t{rect.y} + i);
        for (int32_t k = 0; k + 1 < rows[i].count; ++k) {
            std::memset(line, rows[i].runs[k].value, rows[i].runs[k].length);
            line += rows[i].runs[k].length;
        }
    }
    return s;
}

kip_status kip_rleImage8_transpose(const kip_rleImage8* source, kip_rleImage8* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    kip_rleImage8 built;
    kip_status s = buildTranspose(&built, source);
    return failed(s) ? s : kip::replaceWithBuilt<kip_rleImage8, &kip_rleImage8_destruct>(destination, &built);
}

kip_status kip_rleImage8_reflect(const kip_rleImage8* source, kip_rleImage8* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    kip_rleImage8 built;
    kip_status s = buildRepacked(&built, source, true);
    return failed(s) ? s : kip::replaceWithBuilt<kip_rleImage8, &kip_rleImage8_destruct>(destination, &built);
}

}  // extern "C"

KSYS_DEFINE_TYPE_CHECKS(kip_rleImage8)
