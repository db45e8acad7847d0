#!/usr/bin/env python3
"""Writes the corpus of malformed and unusual WAVE recordings that
tests/corpus/corpus_test.cpp replays, one NAME.wav and one NAME.expected per
case, into tests/corpus/files/ (or the folder given).

    make_corpus.py [FOLDER]          write the files
    make_corpus.py --check [FOLDER]  exit 1 unless the folder holds exactly
                                     these files, byte for byte

Each case imitates a shape that real recorders and editors write; the comment
above it says which. The bytes are built here from scratch, and so is the
outcome each case expects: it follows from what the file holds and what the
reader and the tone analysis must do with it, never from a run of toneprint.

NAME.expected, one item per line ('#' starts a comment line):

    open: ok                    the recording opens
    open: MESSAGE               the open fails with exactly this message
    samples: COUNT [FIRST LAST] (after "open: ok") what read_sample delivers
                                from a fresh open until it fails: how many
                                samples, the first and the last; all of them
                                must come from the data chunk
    console: refused REASONS    (after "open: ok") the recording is not mono
                                16-bit; REASONS is "mono", "16-bit" or both,
                                naming the refusal messages in the order the
                                program prints them. Nothing is analysed.
    tones: N                    (after "open: ok", unless refused) a
                                default-settings analysis writes N tone
                                lines after the header
    frequency: F TOLERANCE      one per tone line, in report order: the
    frequency: short            line's frequency column is F Hz within
                                TOLERANCE Hz, or the line is "Tone too short
                                to measure"
    amplitude: A TOLERANCE      (after a measured frequency line) that line's
                                Max Fundamental Amplitude column is A within
                                TOLERANCE, in raw sample units

Why the tone cases expect one measured line. At sample rates up to 22050 the
defaults skip an attack of 0.2 s after the first sample above the silence
threshold (3200), then fill blocks of 5120 samples (FFT 4096 + hop 1024); the
DFT frame for these pitches (0.3 s plus at most 0.04 s, under 2800 samples at
11025 Hz) fits inside the block, so each pass reads one block. A sine of
0.9 s at 8000 Hz (7200 samples; 0.8 s at 11025 Hz, 8820) holds the attack and
one block, but not a second: the second pass meets the silence after the tone
(or the end of the data, which counts as silence), is dropped, and the line
is written from the first pass. A pure sine's pitch comes out within a few
thousandths of a hertz; 0.05 Hz is the tolerance. Its amplitude (12000 here)
is measured over whole cycles, so it comes out within the rounding of the
samples to integers; 0.1 % is the tolerance.

Every file is small except zero_filled_list_400k.wav: the recorders it
imitates write 400 KB of zeros, and it is kept at that size (git stores the
zeros compressed to well under a kilobyte). The tone cases need about 15 KB:
at 8000 Hz the attack and one block take 6721 samples.
"""

import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

RATE = 8000
TOLERANCE = 0.05  # Hz, for the pitch of a pure sine
AMPLITUDE = 12000  # peak of every sine
AMPLITUDE_TOLERANCE = 12  # 0.1 %

# ---------------------------------------------------------------- building


def u16(value):
    return struct.pack('<H', value)


def u32(value):
    return struct.pack('<I', value)


def pcm(values):
    return struct.pack('<%dh' % len(values), *values)


def chunk(cid, body, declared=None, pad=True):
    """A chunk: id, size (len(body) unless declared), body, and a pad byte
    after an odd body unless pad is False."""
    size = len(body) if declared is None else declared
    out = cid + u32(size) + body
    if pad and len(body) % 2:
        out += b'\0'
    return out


def riff(body, declared=None, form=b'WAVE', magic=b'RIFF'):
    """The form: magic, size (4 + len(body) unless declared), type, body."""
    size = 4 + len(body) if declared is None else declared
    return magic + u32(size) + form + body


def fields(tag=1, channels=1, rate=RATE, bits=16, align=None, byte_rate=None):
    """The 16 bytes of format fields, block align and byte rate as a correct
    writer computes them unless given."""
    if align is None:
        align = channels * bits // 8
    if byte_rate is None:
        byte_rate = rate * align
    return struct.pack('<HHIIHH', tag, channels, rate, byte_rate, align, bits)


def fmt(**kwargs):
    return chunk(b'fmt ', fields(**kwargs))


def data(values, declared=None):
    return chunk(b'data', pcm(values), declared)


def wave(*chunks, declared=None):
    return riff(b''.join(chunks), declared)


def sine(freq, count, rate, amplitude=AMPLITUDE):
    return [round(amplitude * math.sin(2 * math.pi * freq * n / rate)) for n in range(count)]


def take(freq=440.0, rate=RATE, seconds=0.9, first=101, last=-202):
    """A recorded note: a quiet marker sample, a pure sine, 100 samples of
    silence, another quiet marker. The markers make the first and last
    samples tell where reading began and ended."""
    return [first] + sine(freq, int(rate * seconds), rate) + [0] * 100 + [last]


def short(first, last):
    """A few samples between two quiet markers. The loud 9000 starts a tone
    whose 0.2 s attack cannot be skipped in what is left, so the analysis
    ends without a line."""
    return [first, 12, -12, 9000, -9000, last]


def info_list(*items):
    """A LIST/INFO chunk of (id, text) items, each NUL-terminated and padded."""
    body = b'INFO'
    for cid, text in items:
        body += chunk(cid, text + b'\0')
    return chunk(b'LIST', body)


# ---------------------------------------------------------------- outcomes


def opens(samples, tones=None, refused=None):
    """An open that succeeds. samples: what read_sample delivers. tones: one
    entry per tone line, a frequency or 'short'. refused: the format check's
    reasons instead of tones."""
    lines = ['open: ok']
    if samples:
        lines.append('samples: %d %d %d' % (len(samples), samples[0], samples[-1]))
    else:
        lines.append('samples: 0')
    if refused is not None:
        lines.append('console: refused ' + refused)
    else:
        tones = tones or []
        lines.append('tones: %d' % len(tones))
        for tone in tones:
            if tone == 'short':
                lines.append('frequency: short')
            else:
                lines.append('frequency: %s %s' % (tone, TOLERANCE))
                lines.append('amplitude: %s %s' % (AMPLITUDE, AMPLITUDE_TOLERANCE))
    return lines


def fails(message):
    return ['open: ' + message]


CANNOT_OPEN = "Couldn't open file"
NO_FORM_OR_FMT = "Couldn't find RIFF, WAVE, or fmt"
BAD_FMT = 'Error reading format chunk'
NO_DATA = "Couldn't find data chunk"

CASES = []


def case(shape):
    """Registers a case: the function returns (bytes, expected lines)."""
    def register(function):
        CASES.append((function.__name__, shape, function))
        return function
    return register


# ------------------------------------------------------- the format chunk


@case('a writer that reserved the format chunk and never filled it in')
def fmt_size_0():
    return wave(chunk(b'fmt ', b''), data(short(1, -1))), fails(BAD_FMT)


@case('the 14-byte WAVEFORMAT of early Windows writers: no bits per sample')
def fmt_size_14_waveformat():
    return wave(chunk(b'fmt ', fields()[:14]), data(short(2, -2))), fails(BAD_FMT)


@case('plain 16-byte PCM format, as most recorders write it')
def fmt_size_16_pcm_tone():
    samples = take()
    return wave(fmt(), data(samples)), opens(samples, [440.0])


@case('the 18-byte WAVEFORMATEX with an empty extension (cbSize 0), at 11025 Hz')
def fmt_size_18_waveformatex_tone():
    samples = take(rate=11025, seconds=0.8)
    return (wave(chunk(b'fmt ', fields(rate=11025) + u16(0)), data(samples)),
            opens(samples, [440.0]))


@case('the 40-byte WAVE_FORMAT_EXTENSIBLE (0xFFFE) holding 16-bit mono PCM, '
      'as recent editors write even for plain PCM')
def fmt_size_40_extensible_tone():
    pcm_guid = bytes.fromhex('0100000000001000800000aa00389b71')
    extension = u16(22) + u16(16) + u32(0x4) + pcm_guid  # 16 valid bits, front centre
    samples = take(freq=523.25, first=103, last=-206)
    return (wave(chunk(b'fmt ', fields(tag=0xFFFE) + extension), data(samples)),
            opens(samples, [523.25]))


@case('the 40-byte WAVE_FORMAT_EXTENSIBLE holding 32-bit float, as DAWs '
      'export: not 16-bit, so refused and never read as 16-bit samples')
def fmt_size_40_extensible_float():
    float_guid = bytes.fromhex('0300000000001000800000aa00389b71')
    extension = u16(22) + u16(32) + u32(0x4) + float_guid
    body = struct.pack('<4f', 0.0, 0.5, -0.5, 0.25)
    return (wave(chunk(b'fmt ', fields(tag=0xFFFE, bits=32) + extension), chunk(b'data', body)),
            opens([], refused='16-bit'))


@case('a WAVEFORMATEX whose cbSize claims 65535 extension bytes that the '
      '18-byte chunk does not hold')
def fmt_cbsize_beyond_chunk():
    samples = short(4, -4)
    return wave(chunk(b'fmt ', fields() + u16(0xFFFF)), data(samples)), opens(samples)


@case('a format chunk whose size field is garbage near 0xFFFFFFFF')
def fmt_size_near_max():
    return (wave(chunk(b'fmt ', fields(), declared=0xFFFFFFF0), data(short(5, -5))),
            fails(BAD_FMT))


@case('a download cut off inside the format chunk: 10 of its 16 bytes')
def fmt_cut_short():
    body = chunk(b'fmt ', fields())[:8 + 10]
    return riff(body, declared=36 + 12), fails(BAD_FMT)


# ------------------------------------------------------- the format fields


@case('a broken converter that wrote 0 channels (and so block align 0)')
def channels_0():
    samples = short(6, -6)
    return wave(fmt(channels=0), data(samples)), opens(samples, refused='mono')


@case('a stereo 16-bit recording: read as interleaved samples, refused by the program')
def channels_2_16bit():
    samples = short(7, -7)
    return wave(fmt(channels=2), data(samples)), opens(samples, refused='mono')


@case('mono 16-bit with block align 0, as a careless writer leaves it; the '
      'skips count in samples, so the tone is measured as usual')
def block_align_0_tone():
    samples = take(freq=330.0, first=108, last=-216)
    return wave(fmt(align=0, byte_rate=16000), data(samples)), opens(samples, [330.0])


@case('mono 16-bit declaring block align 4 (a stereo value); skips that '
      'followed it would jump over half the tone')
def block_align_4_mono_tone():
    samples = take(first=109, last=-218)
    return wave(fmt(align=4, byte_rate=32000), data(samples)), opens(samples, [440.0])


# Sample rate 0: every duration becomes 0 samples (no attack, and any quiet
# sample inside a tone is a break), and pitch detection has no time base:
# its frequency is not a number, so no pass is measured. A square wave of
# +-10000 (no quiet sample) fills one block, whose pass fails; the next
# block ends at the quiet marker, which is a break. One line, too short.
@case('a header with sample rate 0, holding 5200 samples of a loud square wave')
def sample_rate_0_square():
    square = [10000 if (n // 10) % 2 == 0 else -10000 for n in range(5200)]
    samples = [110] + square + [-220]
    return wave(fmt(rate=0), data(samples)), opens(samples, ['short'])


# Sample rate 0xFFFFFFFF: the attack is 858993459 samples, which the data
# cannot hold, so the tone that starts at 9000 is never measured.
@case('a header whose sample rate field is all ones')
def sample_rate_max():
    samples = short(11, -11)
    return wave(fmt(rate=0xFFFFFFFF, byte_rate=0xFFFFFFFF), data(samples)), opens(samples)


@case('a header with bits per sample 0 (and block align 0)')
def bits_per_sample_0():
    return (wave(fmt(bits=0), chunk(b'data', b'\x01\x02\x03\x04')),
            opens([], refused='16-bit'))


@case('an 8-bit unsigned recording')
def bits_per_sample_8():
    return (wave(fmt(bits=8), chunk(b'data', b'\x80\x90\x70\x80')),
            opens([], refused='16-bit'))


@case('stereo 8-bit, both reasons for refusal at once')
def stereo_8bit():
    return (wave(fmt(channels=2, bits=8), chunk(b'data', b'\x80\x80\x90\x70')),
            opens([], refused='mono 16-bit'))


# ------------------------------------------------------ chunks before data


@case('a JUNK chunk whose size is garbage near 0xFFFFFFFF: the data after '
      'it cannot be reached')
def junk_size_near_max_before_data():
    return (wave(fmt(), chunk(b'JUNK', bytes(28), declared=0xFFFFFFF7), data(short(12, -12))),
            fails(NO_DATA))


@case('an empty JUNK chunk (size 0) between fmt and data')
def chunk_size_0_before_data():
    samples = short(13, -13)
    return wave(fmt(), chunk(b'JUNK', b''), data(samples)), opens(samples)


@case('zero-filled header space: an all-zero chunk header (id and size 0), '
      'then an all-zero id with 12 zero bytes, before the data')
def zero_chunk_id_before_data():
    samples = short(14, -14)
    return (wave(fmt(), bytes(8), chunk(b'\0\0\0\0', bytes(12)), data(samples)),
            opens(samples))


@case('a LIST/INFO whose items declare sizes far past the LIST; the LIST '
      'itself is sized right')
def list_oversized_inner_sizes():
    body = (b'INFO' + b'INAM' + u32(0xFFFFFF00) + b'take 1\0\0' +
            b'ISFT' + u32(0x7FFFFFFF) + b'rec\0')
    samples = short(15, -15)
    return wave(fmt(), chunk(b'LIST', body), data(samples)), opens(samples)


@case('an empty LIST (size 4: its type and nothing else) before the data')
def list_size_4_empty_before_data():
    samples = short(41, -41)
    return wave(fmt(), chunk(b'LIST', b'INFO'), data(samples)), opens(samples)


@case('a LIST declaring far more than the file holds, before the data')
def list_oversized_before_data():
    body = b'INFO' + chunk(b'ISFT', b'rec\0')
    return (wave(fmt(), chunk(b'LIST', body, declared=0x7FFFFFF0), data(short(16, -16))),
            fails(NO_DATA))


@case('a LIST header declaring 2 bytes, less than its own type')
def list_size_below_4_before_data():
    return (wave(fmt(), b'LIST' + u32(2) + b'IN', data(short(17, -17))),
            fails(NO_DATA))


@case('a handheld recorder: a zero-filled LIST of 400 KB (type and all) '
      'between fmt and data')
def zero_filled_list_400k():
    samples = short(18, -18)
    return wave(fmt(), b'LIST' + u32(409600) + bytes(409600), data(samples)), opens(samples)


@case('a JUNK placeholder before fmt (kept for a ds64), then fact and an '
      'Apple FLLR filler that puts the samples at offset 512')
def junk_fact_fllr_before_data():
    samples = short(19, -19)
    head = chunk(b'JUNK', bytes(28)) + fmt() + chunk(b'fact', u32(len(samples)))
    filler = 512 - 8 - (12 + len(head) + 8)  # data header at 504, samples at 512
    return wave(head, chunk(b'FLLR', bytes(filler)), data(samples)), opens(samples)


@case('an odd-sized LIST (13 bytes) with its pad byte, before the data')
def odd_list_padded_before_data():
    samples = short(20, -20)
    return (wave(fmt(), chunk(b'LIST', b'INFOIART' + u32(1) + b'x'), data(samples)),
            opens(samples))


# Without the pad byte the walk resumes one byte into the data header: it
# reads the id "ata\x0c" and a size whose top byte is the first sample's low
# byte (0x55), far past the end, and stops there without a data chunk.
@case('an odd-sized JUNK (3 bytes) written without its pad byte, before the data')
def odd_chunk_unpadded_before_data():
    return (wave(fmt(), chunk(b'JUNK', b'abc', pad=False), data(short(0x155, -21))),
            fails(NO_DATA))


@case('the data chunk before the format chunk')
def data_before_fmt():
    samples = short(22, -22)
    return wave(data(samples), fmt()), opens(samples)


@case('a WAVE list (wavl) holding the data, as the format allows but '
      'no player reads')
def data_inside_wavl_list():
    return wave(fmt(), chunk(b'LIST', b'wavl' + data(short(23, -23)))), fails(NO_DATA)


@case('an edited file holding two fmt and two data chunks: the first of each counts')
def two_fmt_two_data_tone():
    samples = take(first=124, last=-248)
    second = fmt(channels=2, rate=44100, bits=8) + chunk(b'data', b'\x80\x80\xff\x00' * 8)
    return wave(fmt(), data(samples), second), opens(samples, [440.0])


# ---------------------------------------------------- the data chunk itself


# The recorder stopped before it patched the sizes: RIFF 36 and data 0 with
# the samples behind them. The data chunk holds nothing, so nothing is read.
@case('a recorder that crashed before patching its header: RIFF size 36, data size 0')
def data_size_0_crashed_recorder():
    return (riff(fmt() + chunk(b'data', pcm(take()), declared=0), declared=36),
            opens([], []))


@case('a streaming writer: RIFF and data sizes 0xFFFFFFFF, samples to the end of the file')
def data_size_ffffffff_streaming_tone():
    samples = take(first=125, last=-250)
    return (riff(fmt() + chunk(b'data', pcm(samples), declared=0xFFFFFFFF), declared=0xFFFFFFFF),
            opens(samples, [440.0]))


@case('a header written for twice the samples that came: data and RIFF '
      'sizes larger than the file')
def data_size_beyond_file_tone():
    samples = take(first=126, last=-252)
    declared = 4 * len(samples)
    return (riff(fmt() + chunk(b'data', pcm(samples), declared=declared),
                 declared=4 + 24 + 8 + declared),
            opens(samples, [440.0]))


@case('a data size of 0xFFFFFFFE, garbage just short of the streaming value')
def data_size_near_max():
    samples = short(27, -27)
    return wave(fmt(), data(samples, declared=0xFFFFFFFE)), opens(samples)


@case('an odd-sized data chunk (13 bytes) at the end of the file, without '
      'its pad byte; the 13th byte is half a sample')
def odd_data_unpadded_at_end():
    samples = short(28, -28)
    return wave(fmt(), chunk(b'data', pcm(samples) + b'\x7f', pad=False)), opens(samples)


@case('an odd-sized data chunk with its pad byte, then a LIST/INFO')
def odd_data_padded_then_list():
    samples = short(29, -29)
    return (wave(fmt(), chunk(b'data', pcm(samples) + b'\x7f'),
                 info_list((b'ISFT', b'editor'))),
            opens(samples))


@case('tags after the samples: LIST/INFO and an odd-sized ID3 chunk, as '
      'tagging tools append them')
def list_info_and_id3_after_data_tone():
    samples = take(first=130, last=-260)
    # ID3v2.3 header (10 bytes, tag size 13), one TIT2 frame titled "A4":
    # 23 bytes, so the chunk has a pad byte.
    id3 = chunk(b'id3 ', b'ID3\x03\x00\x00\x00\x00\x00\x0d' +
                b'TIT2\x00\x00\x00\x03\x00\x00' + b'\x00A4')
    return (wave(fmt(), data(samples), info_list((b'INAM', b'A4'), (b'ISFT', b'tagger')), id3),
            opens(samples, [440.0]))


# ------------------------------------------------------------ cut-off files


@case('a file cut inside its RIFF header, after 10 bytes')
def cut_in_riff_header():
    return riff(fmt() + data(short(31, -31)))[:10], fails(CANNOT_OPEN)


@case('a file cut in the middle of the data chunk header')
def cut_in_data_header():
    whole = wave(fmt(), data(short(32, -32)))
    return whole[:12 + 24 + 6], fails(NO_DATA)


# A 1.0 s take cut after 7000 whole samples and one byte: the tone still
# holds the attack and one block (6721 samples), the second pass is cut by
# the end of the data.
@case('a recording cut off inside the data, in the middle of a sample')
def cut_inside_data_tone():
    samples = take(seconds=1.0, first=133, last=-266)
    whole = wave(fmt(), data(samples))
    return whole[:12 + 24 + 8 + 2 * 7000 + 1], opens(samples[:7000], [440.0])


# ------------------------------------------------------------- the form


@case('a RIFF size that ends 4 bytes into the data (a writer that forgot '
      'to update it): the data chunk is still whole')
def riff_size_smaller_ends_inside_data():
    samples = short(34, -34)
    return wave(fmt(), data(samples), declared=4 + 24 + 8 + 4), opens(samples)


@case('a RIFF size that ends before the data chunk')
def riff_size_smaller_ends_before_data():
    return wave(fmt(), data(short(35, -35)), declared=4 + 24), fails(NO_DATA)


@case('a RIFF size 4096 bytes larger than the file')
def riff_size_larger_than_file():
    samples = short(36, -36)
    body = fmt() + data(samples)
    return wave(body, declared=4 + len(body) + 4096), opens(samples)


@case('a RIFF size of 2, less than the form type')
def riff_size_below_4():
    return wave(fmt(), data(short(37, -37)), declared=2), fails(NO_FORM_OR_FMT)


@case('an RF64 file (ds64 sizes, RIFF and data 0xFFFFFFFF): not a RIFF file')
def rf64():
    samples = short(38, -38)
    ds64 = chunk(b'ds64', struct.pack('<QQQI', 0, 2 * len(samples), len(samples), 0))
    body = ds64 + fmt() + chunk(b'data', pcm(samples), declared=0xFFFFFFFF)
    return riff(body, declared=0xFFFFFFFF, magic=b'RF64'), fails(CANNOT_OPEN)


@case('an AVI file named .wav')
def form_not_wave():
    return riff(fmt() + data(short(39, -39)), form=b'AVI '), fails(NO_FORM_OR_FMT)


@case('a WAVE form holding no format chunk')
def no_fmt_chunk():
    return wave(data(short(40, -40))), fails(NO_FORM_OR_FMT)


@case('a WAVE form holding a format chunk and tags but no data')
def no_data_chunk():
    return wave(fmt(), info_list((b'ISFT', b'rec'))), fails(NO_DATA)


@case('an MP3 file named .wav: ID3 tag, then an MPEG frame header')
def not_riff_mp3():
    return b'ID3\x03\x00\x00\x00\x00\x00\x00' + b'\xff\xfb\x90\x64' + bytes(60), fails(CANNOT_OPEN)


@case('an empty file')
def empty_file():
    return b'', fails(CANNOT_OPEN)


# ---------------------------------------------------------------- writing


def render():
    """Every file of the corpus: {file name: bytes}."""
    files = {}
    for name, shape, function in CASES:
        contents, expected = function()
        files[name + '.wav'] = contents
        text = '# ' + shape + '\n' + '\n'.join(expected) + '\n'
        files[name + '.expected'] = text.encode('ascii')
    return files


def main(arguments):
    check = '--check' in arguments
    rest = [a for a in arguments if a != '--check']
    folder = rest[0] if rest else os.path.join(HERE, 'files')
    files = render()
    if check:
        present = set(os.listdir(folder)) if os.path.isdir(folder) else set()
        problems = sorted(set(files) ^ present)
        for name in sorted(set(files) & present):
            with open(os.path.join(folder, name), 'rb') as f:
                if f.read() != files[name]:
                    problems.append(name)
        for name in problems:
            print('differs from the generator: ' + name)
        return 1 if problems else 0
    os.makedirs(folder, exist_ok=True)
    for name, contents in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(contents)
    print('%d cases written to %s' % (len(CASES), folder))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
