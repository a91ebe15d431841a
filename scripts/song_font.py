#!/usr/bin/python3
# Writes the face the test prefix shows where the program asks for 宋体 / SimSun:
#   song_font.py wqy-zenhei.ttc out.ttf "family name"
# It is WenQuanYi Zen Hei Sharp, whose hand-tuned bitmaps keep every stroke at 12-14 px, with
# the line spacing of SimSun: an ascent and descent that add up to one em, no line gap. As
# installed, Zen Hei's lines are a third taller (1290 units to the 1024-unit em), which cuts
# the second row of a list box or of a wrapped label that Windows' 宋体 fits. Only the line
# metrics and the names change; the outlines and bitmaps stay as they are.
# Debian's own Python: fontTools comes from its python3-fonttools package.
import sys

from fontTools.ttLib import TTFont

SIMSUN_ASCENT, SIMSUN_EM = 220, 256  # SimSun's usWinAscent and em; its descent is the rest


def sharp_face(collection):
    for number in range(16):
        font = TTFont(collection, fontNumber=number, lazy=True)
        if font["name"].getDebugName(1) == "WenQuanYi Zen Hei Sharp":
            return font
    sys.exit(f"song_font: no WenQuanYi Zen Hei Sharp face in {collection}")


def main():
    collection, out, family = sys.argv[1:4]
    font = sharp_face(collection)
    em = font["head"].unitsPerEm
    ascent = round(em * SIMSUN_ASCENT / SIMSUN_EM)
    descent = em - ascent
    os2 = font["OS/2"]
    os2.usWinAscent, os2.usWinDescent = ascent, descent
    os2.sTypoAscender, os2.sTypoDescender, os2.sTypoLineGap = ascent, -descent, 0
    hhea = font["hhea"]
    hhea.ascent, hhea.descent, hhea.lineGap = ascent, -descent, 0
    # Every family, full and unique name, in every language, so that Wine finds the face by
    # the one name it is given, whatever the prefix's locale.
    for record in font["name"].names:
        if record.nameID in (1, 3, 4, 16, 18, 21):
            record.string = family
        elif record.nameID == 6:
            record.string = family.replace(" ", "")
        elif record.nameID == 17:
            record.string = "Regular"
    font.save(out)


if __name__ == "__main__":
    main()
