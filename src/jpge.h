// Baseline JPEG encoder (JFIF, sequential DCT, Huffman coding, 8-bit samples) for the misc extension's screenshots.
// Feed an image row by row through jpeg_encoder, or hand a whole image to one of the compress_image_* functions.
// Two passes gather symbol statistics first and then code the image with Huffman tables made for it.
#pragma once

#include <cstdio>

namespace jpge {

typedef unsigned char uint8;
typedef signed short int16;
typedef signed int int32;
typedef unsigned short uint16;
typedef unsigned int uint32;
typedef unsigned int uint;

// A fixed underlying type, so that a caller's out-of-range value is well defined and refused by params::check.
enum subsampling_t : int { Y_ONLY = 0, H1V1 = 1, H2V1 = 2, H2V2 = 3 };

struct params {
    params() : m_quality(85), m_subsampling(H2V2), m_no_chroma_discrim_flag(false), m_two_pass_flag(false) {}
    bool check() const;

    int m_quality;                 // 1 to 100
    subsampling_t m_subsampling;   // chroma sampling, or Y_ONLY for greyscale output
    bool m_no_chroma_discrim_flag; // the chroma components use the luminance quantisation table
    bool m_two_pass_flag;          // optimised Huffman tables from a statistics pass
};

// Pixels are rows of width * num_channels bytes (1 grey, 3 RGB, 4 RGBA with alpha ignored), top row first.
// The file is written under a temporary name and renamed into place only when the whole image was written;
// after a failed write errno tells why (0 when the encoder itself failed).
bool compress_image_to_jpeg_file(const char *pFilename, int width, int height, int num_channels,
                                 const uint8 *pImage_data, const params &comp_params = params());
// buf_size: in the capacity of pBuf, out the bytes written; a buffer too small makes the call fail.
bool compress_image_to_jpeg_file_in_memory(void *pBuf, int &buf_size, int width, int height, int num_channels,
                                           const uint8 *pImage_data, const params &comp_params = params());

class output_stream {
public:
    virtual ~output_stream() {}
    virtual bool put_buf(const void *Pbuf, int len) = 0;
    template <class T> bool put_obj(const T &obj) { return put_buf(&obj, sizeof(T)); }
};

class cfile_stream : public output_stream {
public:
    cfile_stream() : m_pFile(nullptr), m_bStatus(false) {}
    ~cfile_stream() override { close(); }
    cfile_stream(const cfile_stream &) = delete;
    cfile_stream &operator=(const cfile_stream &) = delete;

    bool open(const char *pFilename);
    bool open(FILE *f); // takes over an open file (closed by close)
    bool close();
    bool put_buf(const void *pBuf, int len) override;

private:
    FILE *m_pFile;
    bool m_bStatus;
};

class memory_stream : public output_stream {
public:
    memory_stream(void *pBuf, uint buf_size) : m_pBuf(static_cast<uint8 *>(pBuf)), m_buf_size(buf_size), m_buf_ofs(0) {}
    bool put_buf(const void *pBuf, int len) override;
    uint get_size() const { return m_buf_ofs; }

private:
    uint8 *m_pBuf;
    uint m_buf_size, m_buf_ofs;
};

// Calling order: init; then for each of get_total_passes() passes, every row top to bottom through
// process_scanline and then process_scanline(nullptr); then deinit. Any false answer ends the encoding.
class jpeg_encoder {
public:
    jpeg_encoder();
    ~jpeg_encoder();
    jpeg_encoder(const jpeg_encoder &) = delete;
    jpeg_encoder &operator=(const jpeg_encoder &) = delete;

    // Width and height 1 to 65535, src_channels 1, 3 or 4.
    bool init(output_stream *pStream, int width, int height, int src_channels, const params &comp_params = params());
    void deinit();
    uint get_total_passes() const { return m_params.m_two_pass_flag ? 2 : 1; }
    // A null row ends the pass; a pass given fewer or more rows than the height fails.
    bool process_scanline(const void *pScanline);

private:
    enum { JPGE_OUT_BUF_SIZE = 2048 };

    output_stream *m_pStream;
    params m_params;
    uint8 m_num_components;
    uint8 m_comp_h_samp[3], m_comp_v_samp[3];
    int m_image_x, m_image_y, m_image_bpp, m_image_bpl;
    int m_image_x_mcu, m_image_y_mcu;
    int m_image_bpl_xlt, m_image_bpl_mcu;
    int m_mcus_per_row;
    int m_mcu_x, m_mcu_y;
    uint8 *m_mcu_lines[16];
    uint8 m_mcu_y_ofs;
    int m_rows_in_pass;
    int32 m_sample_array[64];
    int16 m_coefficient_array[64]; // natural order
    unsigned long long m_ac_mask;  // bit i: the AC coefficient at zig-zag position i is not zero
    int32 m_quantization_tables[2][64];
    uint16 m_quant_recip_hi[2][64], m_quant_recip_lo[2][64], m_quant_half[2][64]; // natural order
    uint m_huff_codes[4][256];
    uint8 m_huff_code_sizes[4][256];
    uint8 m_huff_bits[4][17];
    uint8 m_huff_val[4][256];
    uint32 m_huff_count[4][256];
    int m_last_dc_val[3];
    uint8 m_out_buf[JPGE_OUT_BUF_SIZE];
    uint8 *m_pOut_buf;
    uint m_out_buf_left;
    uint32 m_bit_buffer;
    uint m_bits_in;
    uint8 m_pass_num;
    bool m_all_stream_writes_succeeded;
    uint8 *m_pMCU_block;

    void _clear();
    bool _jpg_open(int p_x_res, int p_y_res, int src_channels);
    void _compute_quant_table(int table_num, const uint8 *pSrc);
    void _optimize_huffman_table(int table_num, int table_len);
    void _compute_huffman_table(int table_num);
    void _rescale_huffman_counts();
    bool _start_second_pass();
    bool _second_pass_init();
    void _reset_pass();
    void _emit_bytes(const void *buf, int len);
    void _emit_byte(uint8 c);
    void _emit_word(uint w);
    void _emit_marker(int marker);
    void _emit_jfif_app0();
    void _emit_dqt();
    void _emit_sof();
    void _emit_dht(const uint8 *bits, const uint8 *val, int index, bool ac_flag);
    void _emit_dhts();
    void _emit_sos();
    void _emit_markers();
    void _flush_output_buffer();
    void _put_bits(uint bits, uint len);
    void _load_block_8_8_grey(int x);
    void _load_block_8_8(int x, int y, int c);
    void _load_block_16_8(int x, int c);
    void _load_block_16_8_8(int x, int c);
    void _load_quantized_coefficients(int component_num);
    void _code_coefficients_pass_one(int component_num);
    void _no_code();
    void _code_coefficients_pass_two(int component_num);
    void _code_block(int component_num);
    void _process_mcu_row();
    bool _terminate_pass_one();
    bool _terminate_pass_two();
    bool _process_end_of_image();
    void _load_mcu(const void *src);
    bool _fail();
};

} // namespace jpge
