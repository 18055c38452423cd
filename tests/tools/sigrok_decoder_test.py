#!/usr/bin/env python3
"""The sigrok decoder (decoder/sigrok/lcdctl) and lcdsim on the same streams: lcdsim reports
each and writes it as a VCD, which sigrok-cli decodes with the UART decoder and ours, every
class shown. Both must count the same frames, line records, settings and finishes and report
the same errors at the same byte offsets, each annotated where its byte is on the line.
Status 77 (skipped) without sigrok-cli. usage: sigrok_decoder_test.py LCDSIM LCDTEST SOURCE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

LCDSIM, LCDTEST, SOURCE = sys.argv[1:4]
DECODERS = os.path.join(SOURCE, 'decoder', 'sigrok')
SAMPLES_PER_BIT = 100 / 3  # lcdsim's VCD: 100 MHz, 3,000,000 baud
LEAD_BITS = 10  # its idle before the first byte
INIT = bytes([0x0E, 0x02, 0x50, 0x03, 0x00, 0x0E, 0x0B])


def record(line, address):
    return b'\x0e\x01' + (bytes([line, address]) + bytes(40)).replace(b'\x0e', b'\x0e\x0e')


def corpus(name):
    with open(os.path.join(SOURCE, 'fuzz', 'corpus', 'panel_decoder', name), 'rb') as f:
        return f.read()


# name, stream (None: the demo's session through the driver), annotations expected besides
# those lcdsim's counts give
SCENARIOS = [
    ("the demo's session (lcdtest --setting 42)", None, {'init': 1, 'frame': 4}),
    ('a record cut short, the resync byte, a new initialisation and a frame',
     INIT + record(5, 0x28)[:20] + b'\x00' + INIT + b''.join(record(j, 0x28) for j in range(240)),
     {'init': 2, 'frame': 1, 'error': 1}),
    ('faults of every kind, skipped to the next command', corpus('faults'), {'resync': 1}),
]


def fail(what):
    print('sigrok decoder test: ' + what, file=sys.stderr)
    sys.exit(1)


def check_constants():
    """The decoder's protocol constants are protocol/protocol.h's."""
    with open(os.path.join(SOURCE, 'protocol', 'protocol.h')) as f:
        header = dict(re.findall(r'constexpr std::uint8_t (\w+) = (0x[0-9A-Fa-f]+);', f.read()))
    with open(os.path.join(DECODERS, 'lcdctl', 'pd.py')) as f:
        ours = dict(re.findall(r'^(\w+) = (0x[0-9A-Fa-f]+)$', f.read(), re.M))
    if not ours or any(int(v, 16) != int(header.get(k, '-1'), 0) for k, v in ours.items()):
        fail('pd.py %s differs from protocol.h %s' % (ours, header))


def run_lcdsim(stream, work):
    """lcdsim's report and errors for the stream, and the VCD it wrote."""
    vcd, path, pty_file = (os.path.join(work, name) for name in ('line.vcd', 'line.bin', 'pty'))
    if stream is not None:
        with open(path, 'wb') as f:
            f.write(stream)
        sim = subprocess.run([LCDSIM, '--vcd', vcd, path], capture_output=True, text=True,
                             timeout=60)
        return sim.stdout, sim.stderr, vcd
    with subprocess.Popen([LCDSIM, '--pty', '--pty-file', pty_file, '--vcd', vcd, '--frames',
                           '4', '--idle-exit', '20'], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as sim:
        try:
            for _ in range(100):
                if os.path.exists(pty_file) and os.path.getsize(pty_file) > 0:
                    break
                time.sleep(0.1)
            with open(pty_file) as f:
                port = f.read().strip()
            test = subprocess.run([LCDTEST, port, '--setting', '42'], capture_output=True,
                                  text=True, timeout=60)
            if test.returncode != 0:
                fail('lcdtest failed: ' + test.stdout + test.stderr)
            out, err = sim.communicate(timeout=60)
        finally:
            if sim.poll() is None:
                sim.kill()
                sim.wait()
    return out, err, vcd


def run_sigrok(vcd):
    """sigrok's annotations of the VCD: (class, text, first sample, last sample)."""
    cli = subprocess.run(['sigrok-cli', '-I', 'vcd', '-i', vcd, '-P',
                          'uart:rx=tx:baudrate=3000000,lcdctl', '-A', 'lcdctl',
                          '--protocol-decoder-samplenum'], capture_output=True, text=True,
                         env=dict(os.environ, SIGROKDECODE_DIR=DECODERS), timeout=300)
    found = re.findall(r'^(\d+)-(\d+) lcdctl-1: (\w+)(.*)$', cli.stdout, re.M)
    if cli.returncode != 0 or cli.stderr or not found:
        fail('sigrok-cli did not decode %s: %s' % (vcd, cli.stderr or cli.stdout))
    return [(cls, cls + rest, int(ss), int(es)) for ss, es, cls, rest in found]


def check(name, stream, expected, work):
    out, err, vcd = run_lcdsim(stream, work)
    report = dict(re.findall(r'^(frames|line records|settings|finishes) +(\d+)', out, re.M))
    # Faults at the very end of a capture: sigrok gives a decoder no end to see them at.
    errors = [(int(n), text) for n, text in re.findall(r'^lcdsim: offset (\d+): (.*)$', err, re.M)
              if not text.endswith('end of the input')]
    annotations = run_sigrok(vcd)
    want = {cls: int(report[key]) for cls, key in (('frame', 'frames'), ('line', 'line records'),
            ('setting', 'settings'), ('finish', 'finishes')) if key in report}
    want['error'] = len(errors)
    want.update(expected)
    got = {cls: sum(1 for a in annotations if a[0] == cls) for cls in want}
    if got != want or len(want) < 5:
        fail('%s: sigrok annotated %s, lcdsim says %s\n%s%s' % (name, got, want, out, err))
    ours = [a for a in annotations if a[0] == 'error']
    for (offset, text), (_, ann, ss, es) in zip(errors, ours):
        where = (LEAD_BITS + 10 * offset) * SAMPLES_PER_BIT  # the byte's start bit
        if not ann.startswith('error at byte %d: %s;' % (offset, text)) or \
                not ss - SAMPLES_PER_BIT <= where <= es + SAMPLES_PER_BIT:
            fail('%s: lcdsim reports "%s" at byte %d (sample %d), sigrok "%s" at %d-%d'
                 % (name, text, offset, where, ann, ss, es))
    print('ok: ' + name)


def main():
    if shutil.which('sigrok-cli') is None:
        print('skipped: sigrok-cli is not installed (apt-get install sigrok-cli)')
        sys.exit(77)
    check_constants()
    for name, stream, expected in SCENARIOS:
        with tempfile.TemporaryDirectory() as work:
            check(name, stream, expected, work)


main()
