#!/usr/bin/env python3
"""Writes the corpus of malformed and unusual WAVE recordings that
tests/corpus/corpus_test.cpp replays: one NAME.wav per case and expected.txt,
one line per case, into tests/corpus/files/ (or the folder given).

    make_corpus.py [FOLDER]          write the files

Each case imitates a shape that real recorders and editors write; the comment
above it says which. The bytes are built here from scratch, and so is the
outcome each case expects: it follows from what the file holds and what the
reader and the tone analysis must do with it, never from a run of toneprint.

A line of expected.txt is "NAME: OUTCOME", OUTCOME being one of

    MESSAGE                          the open fails with exactly this message
    ok COUNT FIRST LAST refused WHY  the recording opens; read_sample delivers
                                     from a fresh open COUNT samples, the
                                     first FIRST and the last LAST (0 0 when
                                     there are none), all from the data chunk;
                                     the format check refuses it, WHY being
                                     "mono", "16-bit" or both, in the order
                                     the program prints them; nothing is
                                     analysed
    ok COUNT FIRST LAST tones T...   the same, but accepted: a default-settings
                                     analysis writes one line per T after the
                                     header; T is "short" (the line "Tone too
                                     short to measure") or the frequency in Hz
                                     of a measured line, whose Max Fundamental
                                     Amplitude is the sine's peak, 12000

Why the tone cases expect one measured line. At sample rates up to 22050 the
defaults skip an attack of 0.2 s after the first sample above the silence
threshold (3200), then fill blocks of 5120 samples (FFT 4096 + hop 1024); the
DFT frame for these pitches (0.3 s plus at most 0.04 s, under 2800 samples at
11025 Hz) fits inside the block, so each pass reads one block. A sine of
0.9 s at 8000 Hz (7200 samples; 0.8 s at 11025 Hz, 8820) holds the attack and
one block, but not a second: the second pass meets the silence after the tone
(or the end of the data, which counts as silence), is dropped, and the line
is written from the first pass. A pure sine's pitch comes out within a few
thousandths of a hertz; the test allows 0.05 Hz. Its amplitude (12000 here)
is measured over whole cycles, so it comes out within the rounding of the
samples to integers; the test allows 0.1 % (12).

Every file is small except zero_filled_list_400k.wav: the recorders it
imitates write 400 KB of zeros, and it is kept at that size (git stores the
zeros compressed to well under a kilobyte). The tone cases need about 15 KB:
at 8000 Hz the attack and one block take 6721 samples.
"""

import math, pathlib, struct, sys

CANNOT_OPEN, NO_FORM_OR_FMT = "Couldn't open file", "Couldn't find RIFF, WAVE, or fmt"
BAD_FMT, NO_DATA = 'Error reading format chunk', "Couldn't find data chunk"


def u16(value): return struct.pack('<H', value)
def u32(value): return struct.pack('<I', value)
def pcm(values): return struct.pack('<%dh' % len(values), *values)


def chunk(cid, body, declared=None, pad=True):
    """Id, size (len(body) unless declared), body, and a pad byte after an odd
    body unless pad is False."""
    return cid + u32(len(body) if declared is None else declared) + body + b'\0' * (pad and len(body) % 2)


def riff(body, declared=None, form=b'WAVE', magic=b'RIFF'):
    """The form: magic, size (4 + len(body) unless declared), type, body."""
    return magic + u32(4 + len(body) if declared is None else declared) + form + body


def fields(tag=1, channels=1, rate=8000, bits=16, align=None, byte_rate=None):
    """The 16 bytes of format fields; block align and byte rate as a correct
    writer computes them unless given."""
    align = channels * bits // 8 if align is None else align
    return struct.pack('<HHIIHH', tag, channels, rate, rate * align if byte_rate is None else byte_rate, align, bits)


def fmt(extension=b'', **kwargs): return chunk(b'fmt ', fields(**kwargs) + extension)
def data(values, declared=None): return chunk(b'data', pcm(values), declared)
def wave(*chunks, declared=None): return riff(b''.join(chunks), declared)


def extensible(bits, guid_type):
    """A 40-byte WAVE_FORMAT_EXTENSIBLE format chunk: `bits` valid bits, front
    centre, and the KSDATAFORMAT subtype GUID whose first field is guid_type
    (1 PCM, 3 IEEE float)."""
    return fmt(u16(22) + u16(bits) + u32(0x4) + u32(guid_type) + bytes.fromhex('00001000800000aa00389b71'), tag=0xFFFE, bits=bits)


def take(freq=440.0, rate=8000, seconds=0.9, first=101, last=-202):
    """A recorded note: a quiet marker sample, a pure sine of peak 12000, 100
    samples of silence, another quiet marker. The markers make the first and
    last samples tell where reading began and ended."""
    sine = [round(12000 * math.sin(2 * math.pi * freq * n / rate)) for n in range(int(rate * seconds))]
    return [first] + sine + [0] * 100 + [last]


# A few samples between two quiet markers. The loud 9000 starts a tone whose
# 0.2 s attack cannot be skipped in what is left, so the analysis ends
# without a line.
def short(first, last): return [first, 12, -12, 9000, -9000, last]
# A LIST/INFO chunk of (id, text) items, each NUL-terminated and padded.
def info(*items): return chunk(b'LIST', b'INFO' + b''.join(chunk(i, text + b'\0') for i, text in items))


def ok(samples, *tones, refused=None):
    """An open that succeeds; samples: what read_sample delivers; tones: one
    per tone line; refused: the format check's reasons instead of tones."""
    counts = (len(samples), samples[0], samples[-1]) if samples else (0, 0, 0)
    return 'ok %d %d %d ' % counts + ('refused ' + refused if refused else ' '.join(['tones', *map(str, tones)]))


# One row per case: name, bytes, expected outcome. `s :=` names the samples
# that the data chunk holds, so that the outcome can say what is read back.
# The rows are long so that each case stays on one line.
CASES = [
    # ------------------------------------------------------ the format chunk
    # A writer that reserved the format chunk and never filled it in.
    ('fmt_size_0', wave(chunk(b'fmt ', b''), data(short(1, -1))), BAD_FMT),
    # The 14-byte WAVEFORMAT of early Windows writers: no bits per sample.
    ('fmt_size_14_waveformat', wave(chunk(b'fmt ', fields()[:14]), data(short(2, -2))), BAD_FMT),
    # Plain 16-byte PCM format, as most recorders write it.
    ('fmt_size_16_pcm_tone', wave(fmt(), data(s := take())), ok(s, 440.0)),
    # The 18-byte WAVEFORMATEX with an empty extension (cbSize 0), at 11025 Hz.
    ('fmt_size_18_waveformatex_tone', wave(fmt(u16(0), rate=11025), data(s := take(rate=11025, seconds=0.8))), ok(s, 440.0)),
    # The 40-byte WAVE_FORMAT_EXTENSIBLE holding 16-bit mono PCM, as recent
    # editors write even for plain PCM.
    ('fmt_size_40_extensible_tone', wave(extensible(16, 1), data(s := take(523.25, first=103, last=-206))), ok(s, 523.25)),
    # WAVE_FORMAT_EXTENSIBLE holding 32-bit float, as DAWs export: not
    # 16-bit, so refused and never read as 16-bit samples.
    ('fmt_size_40_extensible_float', wave(extensible(32, 3), chunk(b'data', struct.pack('<4f', 0.0, 0.5, -0.5, 0.25))), ok([], refused='16-bit')),
    # A WAVEFORMATEX whose cbSize claims 65535 extension bytes that the
    # 18-byte chunk does not hold.
    ('fmt_cbsize_beyond_chunk', wave(fmt(u16(0xFFFF)), data(s := short(4, -4))), ok(s)),
    # A format chunk whose size field is garbage near 0xFFFFFFFF.
    ('fmt_size_near_max', wave(chunk(b'fmt ', fields(), 0xFFFFFFF0), data(short(5, -5))), BAD_FMT),
    # A download cut off inside the format chunk: 10 of its 16 bytes.
    ('fmt_cut_short', riff(fmt()[:8 + 10], declared=36 + 12), BAD_FMT),
    # ----------------------------------------------------- the format fields
    # A broken converter that wrote 0 channels (and so block align 0).
    ('channels_0', wave(fmt(channels=0), data(s := short(6, -6))), ok(s, refused='mono')),
    # A stereo 16-bit recording: read as interleaved samples, refused by the program.
    ('channels_2_16bit', wave(fmt(channels=2), data(s := short(7, -7))), ok(s, refused='mono')),
    # Mono 16-bit with block align 0, as a careless writer leaves it; the
    # skips count in samples, so the tone is measured as usual.
    ('block_align_0_tone', wave(fmt(align=0, byte_rate=16000), data(s := take(330.0, first=108, last=-216))), ok(s, 330.0)),
    # Mono 16-bit declaring block align 4 (a stereo value); skips that
    # followed it would jump over half the tone.
    ('block_align_4_mono_tone', wave(fmt(align=4, byte_rate=32000), data(s := take(first=109, last=-218))), ok(s, 440.0)),
    # A header with sample rate 0 holding 5200 samples of a loud square wave.
    # Every duration becomes 0 samples (no attack, and any quiet sample
    # inside a tone is a break), and pitch detection has no time base: its
    # frequency is not a number, so no pass is measured. The square wave
    # fills one block, whose pass fails; the next block ends at the quiet
    # marker, which is a break. One line, too short. The square wave changes
    # sign every 10 samples.
    ('sample_rate_0_square', wave(fmt(rate=0), data(s := [110] + [10000 if n // 10 % 2 == 0 else -10000 for n in range(5200)] + [-220])), ok(s, 'short')),
    # A header whose sample rate field is all ones: the attack is 858993459
    # samples, which the data cannot hold, so the tone is never measured.
    ('sample_rate_max', wave(fmt(rate=0xFFFFFFFF, byte_rate=0xFFFFFFFF), data(s := short(11, -11))), ok(s)),
    # A header with bits per sample 0 (and block align 0).
    ('bits_per_sample_0', wave(fmt(bits=0), chunk(b'data', b'\x01\x02\x03\x04')), ok([], refused='16-bit')),
    # An 8-bit unsigned recording.
    ('bits_per_sample_8', wave(fmt(bits=8), chunk(b'data', b'\x80\x90\x70\x80')), ok([], refused='16-bit')),
    # Stereo 8-bit, both reasons for refusal at once.
    ('stereo_8bit', wave(fmt(channels=2, bits=8), chunk(b'data', b'\x80\x80\x90\x70')), ok([], refused='mono 16-bit')),
    # ---------------------------------------------------- chunks before data
    # A JUNK chunk whose size is garbage near 0xFFFFFFFF: the data after it
    # cannot be reached.
    ('junk_size_near_max_before_data', wave(fmt(), chunk(b'JUNK', bytes(28), 0xFFFFFFF7), data(short(12, -12))), NO_DATA),
    # An empty JUNK chunk (size 0) between fmt and data.
    ('chunk_size_0_before_data', wave(fmt(), chunk(b'JUNK', b''), data(s := short(13, -13))), ok(s)),
    # Zero-filled header space: an all-zero chunk header (id and size 0),
    # then an all-zero id with 12 zero bytes, before the data.
    ('zero_chunk_id_before_data', wave(fmt(), bytes(8), chunk(bytes(4), bytes(12)), data(s := short(14, -14))), ok(s)),
    # A LIST/INFO whose items declare sizes far past the LIST; the LIST itself
    # is sized right.
    ('list_oversized_inner_sizes', wave(fmt(), chunk(b'LIST', b'INFO' + chunk(b'INAM', b'take 1\0\0', 0xFFFFFF00) + chunk(b'ISFT', b'rec\0', 0x7FFFFFFF)), data(s := short(15, -15))), ok(s)),
    # An empty LIST (size 4: its type and nothing else) before the data.
    ('list_size_4_empty_before_data', wave(fmt(), chunk(b'LIST', b'INFO'), data(s := short(41, -41))), ok(s)),
    # A LIST declaring far more than the file holds, before the data.
    ('list_oversized_before_data', wave(fmt(), chunk(b'LIST', b'INFO' + chunk(b'ISFT', b'rec\0'), 0x7FFFFFF0), data(short(16, -16))), NO_DATA),
    # A LIST header declaring 2 bytes, less than its own type.
    ('list_size_below_4_before_data', wave(fmt(), chunk(b'LIST', b'IN'), data(short(17, -17))), NO_DATA),
    # A handheld recorder: a zero-filled LIST of 400 KB (type and all)
    # between fmt and data.
    ('zero_filled_list_400k', wave(fmt(), chunk(b'LIST', bytes(409600)), data(s := short(18, -18))), ok(s)),
    # A JUNK placeholder before fmt (kept for a ds64), then fact and an Apple
    # FLLR filler of 412 bytes that puts the data header at offset 504 and
    # the samples at 512: 12 + 36 (JUNK) + 24 (fmt) + 12 (fact) + 8 + 412.
    ('junk_fact_fllr_before_data', wave(chunk(b'JUNK', bytes(28)), fmt(), chunk(b'fact', u32(6)), chunk(b'FLLR', bytes(412)), data(s := short(19, -19))), ok(s)),
    # An odd-sized LIST (13 bytes) with its pad byte, before the data.
    ('odd_list_padded_before_data', wave(fmt(), chunk(b'LIST', b'INFOIART' + u32(1) + b'x'), data(s := short(20, -20))), ok(s)),
    # An odd-sized JUNK (3 bytes) written without its pad byte, before the
    # data. The walk resumes one byte into the data header: it reads the id
    # "ata\x0c" and a size whose top byte is the first sample's low byte
    # (0x55), far past the end, and stops there without a data chunk.
    ('odd_chunk_unpadded_before_data', wave(fmt(), chunk(b'JUNK', b'abc', pad=False), data(short(0x155, -21))), NO_DATA),
    # The data chunk before the format chunk.
    ('data_before_fmt', wave(data(s := short(22, -22)), fmt()), ok(s)),
    # A WAVE list (wavl) holding the data, as the format allows but no player reads.
    ('data_inside_wavl_list', wave(fmt(), chunk(b'LIST', b'wavl' + data(short(23, -23)))), NO_DATA),
    # An edited file holding two fmt and two data chunks: the first of each counts.
    ('two_fmt_two_data_tone', wave(fmt(), data(s := take(first=124, last=-248)), fmt(channels=2, rate=44100, bits=8), chunk(b'data', b'\x80\x80\xff\x00' * 8)), ok(s, 440.0)),
    # -------------------------------------------------- the data chunk itself
    # A recorder that crashed before patching its header: RIFF size 36 and
    # data size 0, the samples behind them. The data chunk holds nothing, so
    # nothing is read.
    ('data_size_0_crashed_recorder', riff(fmt() + data(take(), 0), 36), ok([])),
    # A streaming writer: RIFF and data sizes 0xFFFFFFFF, samples to the end of the file.
    ('data_size_ffffffff_streaming_tone', riff(fmt() + data(s := take(first=125, last=-250), 0xFFFFFFFF), 0xFFFFFFFF), ok(s, 440.0)),
    # A header written for twice the samples that came: data and RIFF sizes
    # larger than the file.
    ('data_size_beyond_file_tone', riff(fmt() + data(s := take(first=126, last=-252), 4 * len(s)), 36 + 4 * len(s)), ok(s, 440.0)),
    # A data size of 0xFFFFFFFE, garbage just short of the streaming value.
    ('data_size_near_max', wave(fmt(), data(s := short(27, -27), 0xFFFFFFFE)), ok(s)),
    # An odd-sized data chunk (13 bytes) at the end of the file, without its
    # pad byte; the 13th byte is half a sample.
    ('odd_data_unpadded_at_end', wave(fmt(), chunk(b'data', pcm(s := short(28, -28)) + b'\x7f', pad=False)), ok(s)),
    # An odd-sized data chunk with its pad byte, then a LIST/INFO.
    ('odd_data_padded_then_list', wave(fmt(), chunk(b'data', pcm(s := short(29, -29)) + b'\x7f'), info((b'ISFT', b'editor'))), ok(s)),
    # Tags after the samples: LIST/INFO and an odd-sized ID3 chunk, as
    # tagging tools append them. The ID3v2.3 tag (10-byte header, tag size
    # 13) holds one TIT2 frame "A4": 23 bytes, so its chunk has a pad byte.
    ('list_info_and_id3_after_data_tone', wave(fmt(), data(s := take(first=130, last=-260)), info((b'INAM', b'A4'), (b'ISFT', b'tagger')), chunk(b'id3 ', b'ID3\3\0\0\0\0\0\x0dTIT2\0\0\0\3\0\0\0A4')), ok(s, 440.0)),
    # --------------------------------------------------------- cut-off files
    # A file cut inside its RIFF header, after 10 bytes.
    ('cut_in_riff_header', wave(fmt(), data(short(31, -31)))[:10], CANNOT_OPEN),
    # A file cut in the middle of the data chunk header.
    ('cut_in_data_header', wave(fmt(), data(short(32, -32)))[:12 + 24 + 6], NO_DATA),
    # A recording cut off inside the data, in the middle of a sample: a 1.0 s
    # take cut after 7000 whole samples and one byte. The tone still holds
    # the attack and one block (6721 samples); the second pass is cut by the
    # end of the data.
    ('cut_inside_data_tone', wave(fmt(), data(s := take(seconds=1.0, first=133, last=-266)))[:44 + 2 * 7000 + 1], ok(s[:7000], 440.0)),
    # ------------------------------------------------------------- the form
    # A RIFF size that ends 4 bytes into the data (a writer that forgot to
    # update it): the data chunk is still whole.
    ('riff_size_smaller_ends_inside_data', wave(fmt(), data(s := short(34, -34)), declared=4 + 24 + 8 + 4), ok(s)),
    # A RIFF size that ends before the data chunk.
    ('riff_size_smaller_ends_before_data', wave(fmt(), data(short(35, -35)), declared=4 + 24), NO_DATA),
    # A RIFF size 4096 bytes larger than the file.
    ('riff_size_larger_than_file', wave(fmt(), data(s := short(36, -36)), declared=4 + 24 + 20 + 4096), ok(s)),
    # A RIFF size of 2, less than the form type.
    ('riff_size_below_4', wave(fmt(), data(short(37, -37)), declared=2), NO_FORM_OR_FMT),
    # An RF64 file (ds64 sizes, RIFF and data 0xFFFFFFFF): not a RIFF file.
    ('rf64', riff(chunk(b'ds64', struct.pack('<QQQI', 0, 12, 6, 0)) + fmt() + data(short(38, -38), 0xFFFFFFFF), 0xFFFFFFFF, magic=b'RF64'), CANNOT_OPEN),
    # An AVI file named .wav.
    ('form_not_wave', riff(fmt() + data(short(39, -39)), form=b'AVI '), NO_FORM_OR_FMT),
    # A WAVE form holding no format chunk.
    ('no_fmt_chunk', wave(data(short(40, -40))), NO_FORM_OR_FMT),
    # A WAVE form holding a format chunk and tags but no data.
    ('no_data_chunk', wave(fmt(), info((b'ISFT', b'rec'))), NO_DATA),
    # An MP3 file named .wav: ID3 tag, then an MPEG frame header.
    ('not_riff_mp3', b'ID3\x03' + bytes(6) + b'\xff\xfb\x90\x64' + bytes(60), CANNOT_OPEN),
    # An empty file.
    ('empty_file', b'', CANNOT_OPEN),
]


def render():
    """Every file of the corpus: {file name: bytes}."""
    table = '# NAME: OUTCOME, one line per case of make_corpus.py\n' + ''.join('%s: %s\n' % (n, o) for n, _, o in CASES)
    return {**{name + '.wav': contents for name, contents, _ in CASES}, 'expected.txt': table.encode()}


def main(arguments):
    folder = pathlib.Path(arguments[0] if arguments else pathlib.Path(__file__).resolve().parent / 'files')
    folder.mkdir(parents=True, exist_ok=True)
    for name, contents in render().items():
        (folder / name).write_bytes(contents)
    print('%d cases written to %s' % (len(CASES), folder))


if __name__ == '__main__':
    main(sys.argv[1:])
