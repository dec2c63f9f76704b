// Test-sound generator: writes a tone as an Ogg Vorbis file, so the suite and the benchmarks need no committed
// binaries. Usage: kiv_oggenc <out.ogg> <rate> <channels> <frames> <hz>
// The left channel is a sine of <hz> at amplitude 0.5, the right one a sine of 2 x <hz> at amplitude 0.25.
// With a sixth argument "tune" the tone instead plays the game's music on the key of <hz>: four sections of four
// two-second bars (a chord each: plucked arpeggio notes over a held bass), each section with its own pattern and
// loudness, the last one quiet and swelling back into the first; 32 s loops seamlessly (705600 frames at 22050).
// with "blip" it slides up an octave and fades (a pickup), with "thud" it slides down and fades (a hit).
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool _write_pages(FILE *f, ogg_stream_state *os, bool flush) {
    ogg_page og;
    while (flush ? ogg_stream_flush(os, &og) : ogg_stream_pageout(os, &og)) {
        if (fwrite(og.header, 1, og.header_len, f) != (size_t)og.header_len)
            return false;
        if (fwrite(og.body, 1, og.body_len, f) != (size_t)og.body_len)
            return false;
    }
    return true;
}

// One frame of the music at time t (seconds, taken modulo the 32 s loop) into the left and right samples.
static void _tune(double t, double hz, double *l, double *r) {
    // Chords as semitones from the key: root and whether it is minor, four bars per section.
    static const int roots[16] = {0, -3, 5, 7, 5, 7, 4, -3, 0, -3, 5, 7, 2, 7, 0, 7};
    static const bool minor[16] = {false, true, false, false, false, false, true,  true,
                                   false, true, false, false, true,  false, false, false};
    // Which chord tone (root, third, fifth, octave) each of a bar's eight notes plays, per section.
    static const int patterns[4][8] = {
        {0, 1, 2, 3, 2, 1, 0, 1}, {0, 2, 1, 3, 0, 2, 1, 3}, {0, 1, 2, 3, 3, 2, 1, 2}, {3, 2, 1, 0, 1, 2, 3, 2}};
    static const double gains[4] = {0.55, 0.85, 0.7, 0.4};
    t = fmod(t, 32.0);
    int bar = (int)(t / 2), section = bar / 4;
    double tb = t - bar * 2, tn = fmod(tb, 0.25), in = tn / 0.25;
    double gain = gains[section];
    if (section == 3) // the last section swells back to the first one's loudness
        gain += (gains[0] - gains[3]) * (bar - 12 + tb / 2) / 4;
    int tones[4] = {0, minor[bar] ? 3 : 4, 7, 12};
    int semis = roots[bar] + tones[patterns[section][(int)(tb / 0.25)]];
    if (section == 2 && (int)(tb / 0.25) % 2 == 1)
        semis += 12; // the third section echoes the first an octave up on every other note
    double f = hz * pow(2.0, semis / 12.0), fb = hz * pow(2.0, (roots[bar] - 12) / 12.0);
    double mel = 0.35 * exp(-3 * in) * sin(2 * M_PI * f * tn);
    // The bass fades in and out at the bar's ends, so bar changes and the loop's seam do not click.
    double edge = fmin(1.0, fmin(tb * 20, (2 - tb) * 20));
    double bass = 0.25 * edge * (0.6 + 0.4 * exp(-tb)) * sin(2 * M_PI * fb * tb);
    double shine = 0.08 * exp(-4 * in) * sin(4 * M_PI * f * tn);
    *l = gain * (mel + 0.8 * bass);
    *r = gain * (0.6 * mel + bass + shine);
}

int main(int argc, char **argv) {
    if (argc != 6 && argc != 7) {
        fprintf(stderr, "usage: kiv_oggenc <out.ogg> <rate> <channels> <frames> <hz>\n");
        return 2;
    }
    long rate = atol(argv[2]), channels = atol(argv[3]), frames = atol(argv[4]);
    double hz = atof(argv[5]);
    const char *shape = argc == 7 ? argv[6] : "";
    if (rate < 8000 || rate > 192000 || channels < 1 || channels > 2 || frames < 1 || frames > 100000000) {
        fprintf(stderr, "kiv_oggenc: bad arguments\n");
        return 2;
    }
    FILE *f = fopen(argv[1], "wb");
    if (!f) {
        fprintf(stderr, "kiv_oggenc: cannot write %s\n", argv[1]);
        return 1;
    }
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, channels, rate, 0.6f) != 0) {
        fprintf(stderr, "kiv_oggenc: encoder refused %ld Hz, %ld channels\n", rate, channels);
        vorbis_info_clear(&vi);
        fclose(f);
        remove(argv[1]);
        return 1;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 1); // fixed serial: the same arguments give the same bytes
    ogg_packet hdr, hdr_comm, hdr_code;
    vorbis_analysis_headerout(&vd, &vc, &hdr, &hdr_comm, &hdr_code);
    ogg_stream_packetin(&os, &hdr);
    ogg_stream_packetin(&os, &hdr_comm);
    ogg_stream_packetin(&os, &hdr_code);
    bool ok = _write_pages(f, &os, true);

    const long chunk = 1024;
    long done = 0;
    bool eos = false;
    while (ok && !eos) {
        long n = frames - done < chunk ? frames - done : chunk;
        if (n > 0) {
            float **buf = vorbis_analysis_buffer(&vd, (int)n);
            for (long i = 0; i < n; i++) {
                double t = (double)(done + i) / rate, f = hz, amp = 0.5, len = (double)frames / rate;
                if (!strcmp(shape, "tune")) {
                    double l, r;
                    _tune(t, hz, &l, &r);
                    buf[0][i] = (float)(channels == 2 ? l : (l + r) / 2);
                    if (channels == 2)
                        buf[1][i] = (float)r;
                    continue;
                } else if (!strcmp(shape, "blip")) {
                    f = hz * (1 + t / len);
                    amp = 0.5 * (1 - t / len);
                } else if (!strcmp(shape, "thud")) {
                    f = hz * (1 - 0.5 * t / len);
                    amp = 0.6 * (1 - t / len);
                }
                buf[0][i] = (float)(amp * sin(2 * M_PI * f * t));
                if (channels == 2)
                    buf[1][i] = (float)(amp / 2 * sin(2 * M_PI * 2 * f * t));
            }
            done += n;
        }
        vorbis_analysis_wrote(&vd, (int)n);
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                ok = ok && _write_pages(f, &os, false);
            }
        }
        if (n == 0)
            eos = true;
    }
    ok = ok && _write_pages(f, &os, true);
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    if (fclose(f) != 0 || !ok) {
        fprintf(stderr, "kiv_oggenc: write failed for %s\n", argv[1]);
        remove(argv[1]); // no half file that a later build would take as done
        return 1;
    }
    return 0;
}
