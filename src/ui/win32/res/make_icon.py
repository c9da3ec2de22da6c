#!/usr/bin/env python3
# Draws the application icon (a pink five-petal blossom on a rose disc) with
# ImageMagick and writes vornhale.ico with 48, 32 and 16 pixel images.
#   python3 make_icon.py   (run in this folder)
import math
import subprocess

S, cx, cy, r, d = 256, 128, 128, 40, 56
draw = ['-fill', '#F2AEBD', '-stroke', '#6C0820', '-strokewidth', '8',
        '-draw', f'circle {cx},{cy} {cx},{cy - 120}',
        '-stroke', '#FFF0F5', '-strokewidth', '4', '-fill', '#E86E91']
for k in range(5):
    a = k * 2 * math.pi / 5 - math.pi / 2
    px, py = cx + math.cos(a) * d, cy + math.sin(a) * d
    draw += ['-draw', f'circle {px:.1f},{py:.1f} {px + r:.1f},{py:.1f}']
draw += ['-stroke', 'none', '-fill', '#FFD764', '-draw', f'circle {cx},{cy} {cx + 24},{cy}']
subprocess.check_call(['convert', '-size', f'{S}x{S}', 'xc:none'] + draw + ['blossom256.png'])
subprocess.check_call(['convert', 'blossom256.png', '-define', 'icon:auto-resize=48,32,16',
                       'vornhale.ico'])
