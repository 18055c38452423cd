# The display controller's serial stream as sigrok shows it, stacked on the UART decoder:
# line records, frames, settings, finishes and where the stream breaks. Its rules are those of
# the project's own decoder (decoder/panel_decoder.h), which lcdsim runs.

'''
Decodes the byte stream the lcd_driver display driver sends its 640x480 panel's
controller (8N1 at 3,000,000 baud): the initialisation, each line record with
its panel row and byte column, each frame of 240 line records with its quadrant,
settings, finishes, and errors with where decoding picks up again.

Stack it on the UART decoder (baudrate 3000000) with the line on its RX channel,
or on TX with channel=tx.
'''

from .pd import Decoder
