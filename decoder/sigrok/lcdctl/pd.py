# A libsigrokdecode decoder (API 3) for the display controller's byte stream, stacked on the
# UART decoder. It follows decoder/panel_decoder.cpp rule for rule, so that it and lcdsim count
# the same frames, records, settings, finishes and errors on the same stream.

import sigrokdecode as srd

# The controller's protocol, as protocol/protocol.h declares it (a test holds them equal).
ESCAPE_BYTE = 0x0E
CMD_LINE = 0x01
CMD_SETTING = 0x02
CMD_FINISH = 0x0B
ADDRESS_LOWER_HALF = 0x80
INIT_SETTING = (0x50, 0x03, 0x00)

HALF_LINES = 240
RECORD_PIXEL_BYTES = 40
MAX_COLUMN = 80 - RECORD_PIXEL_BYTES
QUADRANT_COLUMNS = (0, 40)
SETTING_BYTES_SHOWN = 16
COMMAND_NAMES = {CMD_LINE: 'line record', CMD_SETTING: 'setting', CMD_FINISH: 'finish'}

# States, as decoder/panel_decoder.h names them.
IDLE, ESCAPE, SKIP, SKIP_ESCAPE, RECORD, SETTING_FIRST, SETTING_MORE = range(7)

ANN_INIT, ANN_LINE, ANN_FRAME, ANN_SETTING, ANN_FINISH, ANN_ERROR, ANN_RESYNC = range(7)


def setting_text(values):
    text = ' '.join('%02X' % v for v in values[:SETTING_BYTES_SHOWN])
    if len(values) > SETTING_BYTES_SHOWN:
        text += ' ... (%d bytes)' % len(values)
    return text


class Decoder(srd.Decoder):
    api_version = 3
    id = 'lcdctl'
    name = 'LCD controller'
    longname = '640x480 LCD controller stream'
    desc = 'Line records, frames and settings sent to a 640x480 LCD controller.'
    license = 'mit'
    inputs = ['uart']
    outputs = []
    tags = ['Display']
    options = (
        {'id': 'channel', 'desc': 'UART channel carrying the stream', 'default': 'rx',
            'values': ('rx', 'tx')},
    )
    annotations = (
        ('init', 'Initialisation'),
        ('line', 'Line record'),
        ('frame', 'Frame'),
        ('setting', 'Setting'),
        ('finish', 'Finish'),
        ('error', 'Error'),
        ('resync', 'Decoding resumes'),
    )
    annotation_rows = (
        ('commands', 'Commands', (ANN_LINE, ANN_SETTING, ANN_FINISH)),
        ('frames', 'Frames', (ANN_INIT, ANN_FRAME)),
        ('errors', 'Errors', (ANN_ERROR, ANN_RESYNC)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.state = IDLE
        self.offset = 0  # of the byte being decoded, as lcdsim counts it
        self.ss = self.es = self.last_es = 0  # the byte's samples; the previous byte's end
        self.escape_ss = 0
        self.escape_offset = 0
        self.record_ss = 0
        self.record_escape = False
        self.record_escaped = 0
        self.fields = []  # (value, ss, es, offset) of the record's line, address, pixels
        self.field_ss = self.field_offset = 0  # where the field being read began
        self.cut_es = 0
        self.setting_ss = 0
        self.setting = []
        self.init_ss = None  # a setting 50 03 00 just ended here: init if finish follows
        self.skip_ss = None  # the first byte skipped while resynchronising
        self.skipped = 0
        self.frame_ss = 0
        self.lines_since_frame = 0

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)
        self.rxtx = 0 if self.options['channel'] == 'rx' else 1

    # Each annotation's longest text begins with its class's id, as lcdsim --trace prints it.
    def put_ann(self, ss, es, cls, texts):
        self.put(ss, es, self.out_ann, [cls, texts])

    def decode(self, ss, es, data):
        ptype, rxtx, pdata = data
        if ptype != 'FRAME' or rxtx != self.rxtx:
            return
        value, valid = pdata
        self.ss, self.es = ss, es
        if valid:
            self.byte(value)
            self.offset += 1
        else:
            self.framing_error()
        self.last_es = es

    def error(self, ss, es, offset, text, then):
        self.init_ss = None
        self.put_ann(ss, es, ANN_ERROR, ['error at byte %d: %s; %s' % (offset, text, then),
                                         'error: %s' % text, 'error', 'E'])

    def skip(self):
        self.state = SKIP
        self.skip_ss = None
        self.skipped = 0

    def framing_error(self):
        # The UART lost this byte (a stop bit or start bit that was wrong): whatever was open
        # cannot be trusted past it, so decoding resumes at the next command.
        where = 'UART framing error'
        if self.state == RECORD:
            where += ' inside a line record (dropped)'
        elif self.state == SETTING_MORE:
            self.end_setting()
        self.error(self.ss, self.es, self.offset, where, 'decoding resumes at the next command')
        self.skip()

    # A command code after 0E, between commands, cutting a record short or ending a skip.
    def command(self, code):
        init_ss, self.init_ss = self.init_ss, None
        if code == CMD_LINE:
            self.state = RECORD
            self.record_ss = self.escape_ss
            self.record_escape = False
            self.record_escaped = 0
            self.fields = []
        elif code == CMD_SETTING:
            self.state = SETTING_FIRST
            self.setting_ss = self.escape_ss
            self.setting = []
        elif code == CMD_FINISH:
            self.state = IDLE
            self.put_ann(self.escape_ss, self.es, ANN_FINISH, ['finish', 'fin', 'F'])
            if init_ss is not None:
                self.put_ann(init_ss, self.es, ANN_INIT,
                             ['init: setting 50 03 00, finish', 'init', 'I'])
        else:
            self.error(self.escape_ss, self.es, self.escape_offset,
                       'unknown command (0x%02X)' % code, 'skipping to the next command')
            self.skip()

    # 0E and a command code while skipping: where the stream makes sense again.
    def resync(self, code):
        ss = self.skip_ss if self.skip_ss is not None else self.escape_ss
        skipped = '%d skipped byte%s' % (self.skipped, '' if self.skipped == 1 else 's')
        self.put_ann(ss, self.es, ANN_RESYNC,
                     ['resync: decoding resumes at command 0E %02X (%s), %s before it'
                      % (code, COMMAND_NAMES[code], skipped), 'resync', 'R'])
        self.command(code)

    def end_setting(self):
        values = self.setting
        self.put_ann(self.setting_ss, self.last_es, ANN_SETTING,
                     ['setting ' + setting_text(values), 'set ' + setting_text(values[:3]),
                      'S'])
        self.init_ss = self.setting_ss if tuple(values) == INIT_SETTING else None

    def byte(self, b):
        s = self.state
        if s == IDLE:
            if b == ESCAPE_BYTE:
                self.escape_ss, self.escape_offset = self.ss, self.offset
                self.state = ESCAPE
            else:
                self.error(self.ss, self.es, self.offset, 'byte outside any command (0x%02X)' % b,
                           'skipping to the next command')
                self.skip()
        elif s == ESCAPE:
            self.command(b)
        elif s == SKIP or s == SKIP_ESCAPE:
            if s == SKIP_ESCAPE and b in COMMAND_NAMES:
                self.resync(b)
                return
            # 0E 0E is an escaped data byte of whatever is being skipped.
            if self.skip_ss is None:
                self.skip_ss = self.ss
            if s == SKIP_ESCAPE:
                self.skipped += 1  # the 0E before this byte
                self.state = SKIP
            elif b == ESCAPE_BYTE:
                self.escape_ss, self.escape_offset = self.ss, self.offset
                self.state = SKIP_ESCAPE
                return
            self.skipped += 1
        elif s == RECORD:
            self.record_byte(b)
        elif s == SETTING_FIRST:
            # The first setting byte goes raw, whatever its value.
            self.setting = [b]
            self.state = SETTING_MORE
        elif s == SETTING_MORE:
            if b == ESCAPE_BYTE:
                self.end_setting()
                self.escape_ss, self.escape_offset = self.ss, self.offset
                self.state = ESCAPE
            else:
                self.setting.append(b)

    # A field's samples and offset start at its first wire byte (the 0E when doubled).
    def record_byte(self, b):
        if self.record_escape:
            self.record_escape = False
            if b == ESCAPE_BYTE:
                self.record_escaped += 1
                self.record_value(b)
            elif b in COMMAND_NAMES:
                self.error(self.record_ss, self.cut_es, self.escape_offset,
                           'line record cut short by command 0E %02X' % b,
                           'decoding goes on with that %s' % COMMAND_NAMES[b])
                self.command(b)
            else:
                self.error(self.escape_ss, self.es, self.escape_offset,
                           'escape followed by neither a command nor 0x0E (0E %02X)' % b,
                           'skipping to the next command')
                self.skip()
        elif b == ESCAPE_BYTE:
            self.record_escape = True
            self.escape_ss, self.escape_offset = self.ss, self.offset
            self.field_ss, self.field_offset = self.ss, self.offset
            self.cut_es = self.last_es  # where the record ends if a command follows
        else:
            self.field_ss, self.field_offset = self.ss, self.offset
            self.record_value(b)

    def record_value(self, v):
        self.fields.append((v, self.field_ss, self.es, self.field_offset))
        if len(self.fields) == 2 + RECORD_PIXEL_BYTES:
            self.complete_record()

    def complete_record(self):
        self.state = IDLE
        (line, line_ss, line_es, line_offset) = self.fields[0]
        (address, address_ss, address_es, address_offset) = self.fields[1]
        if line >= HALF_LINES:
            self.error(line_ss, line_es, line_offset, 'line byte over 239 (0x%02X)' % line,
                       'the record is dropped')
            return
        column = address & 0x7F
        if column > MAX_COLUMN:
            self.error(address_ss, address_es, address_offset,
                       'address past the panel (0x%02X: byte column %d + 40 > 80)'
                       % (address, column), 'the record is dropped')
            return
        lower = (address & ADDRESS_LOWER_HALF) != 0
        row = line + (HALF_LINES if lower else 0)
        self.put_ann(self.record_ss, self.es, ANN_LINE,
                     ['line %d, address 0x%02X: row %d, byte column %d, %d escaped'
                      % (line, address, row, column, self.record_escaped),
                      'line %d 0x%02X: row %d col %d' % (line, address, row, column),
                      'L%d' % line, 'L'])
        if self.lines_since_frame == 0:
            self.frame_ss = self.record_ss
        self.lines_since_frame += 1
        if line == HALF_LINES - 1:
            self.put_frame(lower, column)
            self.lines_since_frame = 0

    # A frame is complete at its record for line 239; it began at the first record since the
    # frame before.
    def put_frame(self, lower, column):
        records = '%d line records' % self.lines_since_frame
        if column in QUADRANT_COLUMNS:
            quadrant = (2 if lower else 0) + QUADRANT_COLUMNS.index(column)
            texts = ['frame: quadrant %d, %s' % (quadrant, records), 'frame Q%d' % quadrant,
                     'Q%d' % quadrant]
        else:
            half = 'lower' if lower else 'upper'
            texts = ['frame: %s half from byte column %d, %s' % (half, column, records),
                     'frame', 'F']
        self.put_ann(self.frame_ss, self.es, ANN_FRAME, texts)
