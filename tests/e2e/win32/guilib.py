"""Driving vornhale.exe under Wine on a private Xvfb display, as a person would.

Each session owns its Xvfb (on a free display number), its WINEPREFIX and its
work folder; close() ends exactly those (Xvfb by pid, Wine with
`wineserver -k` for the own prefix). Network: only loopback is contacted; a
same-network link's host is rewritten to 127.0.0.1 before it is fetched.
"""
import os
import re
import shutil
import subprocess
import time
import urllib.parse

QR_PANEL = (360, 54, 370, 180)       # client x, y, w, h of the QR panel at 96 DPI
MAIN_CLIENT = (744, 805)             # the 750 x 830 window's client area under Wine at 96 DPI
LINK_RE = re.compile(r'^(http://[0-9.]+:[0-9]+|https://[a-z0-9-]+\.trycloudflare\.com)/[A-Za-z0-9_-]{3,32}$')


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)
    print('ok   ' + what, flush=True)


def wait_for(fn, timeout, what, step=0.2):
    end = time.monotonic() + timeout
    while True:
        value = fn()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure('timed out: ' + what)
        time.sleep(step)


def free_display():
    for n in range(110, 400):
        if not os.path.exists('/tmp/.X%d-lock' % n) and not os.path.exists('/tmp/.X11-unix/X%d' % n):
            return n
    raise Failure('no free X display number')


class Session:
    def __init__(self, work, exe, with_client=None, dpi=96):
        self.work = os.path.abspath(work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        # The program looks for cloudflared.exe (and logo.ico) beside itself:
        # every session runs its own copy in its own folder.
        self.appdir = os.path.join(self.work, 'app dir')  # a blank in the path, as users have
        os.makedirs(self.appdir)
        self.exe = os.path.join(self.appdir, 'vornhale.exe')
        shutil.copy(exe, self.exe)
        if with_client:
            shutil.copy(with_client, os.path.join(self.appdir, 'cloudflared.exe'))
        self.shots = os.path.join(self.work, 'screenshots')
        os.makedirs(self.shots)
        self.dpi = dpi
        screen = '1280x1024x24' if dpi == 96 else '1600x1400x24'
        self.display = free_display()
        self.xvfb = subprocess.Popen(['Xvfb', ':%d' % self.display, '-screen', '0', screen,
                                      '-nolisten', 'tcp'], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.env = dict(os.environ)
        # UTF-8 locale: Wine reads non-ASCII command-line paths with it.
        self.env.update(DISPLAY=':%d' % self.display, WINEPREFIX=os.path.join(self.work, 'prefix'),
                        WINEDEBUG='-all', LANG='C.UTF-8', LC_ALL='C.UTF-8')
        wait_for(lambda: os.path.exists('/tmp/.X11-unix/X%d' % self.display), 10, 'Xvfb socket')
        self.run('wineboot', '-i', timeout=120, quiet=True)
        if dpi != 96:
            # The system DPI a DPI-aware program sees, with the system fonts scaled to it.
            for key in (r'HKCU\Control Panel\Desktop', r'HKCU\Software\Wine\Fonts'):
                self.run('wine', 'reg', 'add', key, '/v', 'LogPixels', '/t', 'REG_DWORD', '/d', str(dpi),
                         '/f', check=True, quiet=True)
            self.run('wineserver', '-w', timeout=120, quiet=True)
        self.procs = []
        self.main = None
        self.shot_no = 0

    def run(self, *cmd, timeout=60, quiet=False, **kw):
        """A helper program in the session's environment; its output captured as text, or
        dropped when quiet (for programs that leave a daemon holding their output open)."""
        out = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) if quiet else dict(capture_output=True)
        return subprocess.run(list(cmd), env=self.env, text=True, timeout=timeout, **out, **kw)

    # ---- the layout at the session's DPI ----
    def px(self, v):
        """A 96-DPI figure at the session's DPI, rounded as MulDiv rounds."""
        return (v * self.dpi + 48) // 96

    def box(self, x, y, w, h):
        """A 96-DPI client rectangle at the session's DPI (edges scaled, as the program does)."""
        return self.px(x), self.px(y), self.px(x + w) - self.px(x), self.px(y + h) - self.px(y)

    # ---- processes ----
    def winpath(self, path):
        return self.run('winepath', '-w', path).stdout.strip()

    def start(self, *args):
        p = subprocess.Popen(['wine', self.exe] + list(args), env=self.env, cwd=self.work,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def close(self):
        self.run('wineserver', '-k', quiet=True)
        for p in self.procs:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.xvfb.terminate()
        try:
            self.xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()

    # ---- X windows ----
    def xdo(self, *args, check_rc=False):
        out = self.run('xdotool', *args, timeout=30)
        if check_rc and out.returncode != 0:
            raise Failure('xdotool %s: %s' % (' '.join(args), out.stderr))
        return out.stdout

    def windows(self, name_re):
        return [w for w in self.xdo('search', '--onlyvisible', '--name', name_re).split() if w]

    def geometry(self, wid):
        out = self.xdo('getwindowgeometry', '--shell', wid)
        g = dict(line.split('=', 1) for line in out.split() if '=' in line)
        return int(g['X']), int(g['Y']), int(g['WIDTH']), int(g['HEIGHT'])

    def is_main(self, wid):
        w, h = self.geometry(wid)[2:]
        if self.dpi == 96:
            return (w, h) == MAIN_CLIENT
        return w >= self.px(700) and h >= self.px(700)   # no message box is that large

    def main_windows(self):
        return [w for w in self.windows('^Vorn-Hale$') if self.is_main(w)]

    def boxes(self, name_re='^Vorn-Hale$'):
        """Visible windows with that title that are not the main window."""
        return [w for w in self.windows(name_re) if not self.is_main(w)]

    def wait_main(self, timeout=120):
        self.main = wait_for(lambda: (self.main_windows() or [None])[0], timeout, 'main window')
        return self.main

    def wait_box(self, name_re='^Vorn-Hale$', timeout=20):
        return wait_for(lambda: (self.boxes(name_re) or [None])[0], timeout,
                        'message box titled ' + name_re)

    def answer(self, box, key):
        # Under load a key can reach the box before it takes the focus: retry.
        for _ in range(3):
            if box not in self.windows('.*'):
                return
            self.xdo('windowfocus', '--sync', box)
            self.xdo('key', key)
            try:
                wait_for(lambda: box not in self.windows('.*'), 5, 'box closed after ' + key)
                return
            except Failure:
                pass
        wait_for(lambda: box not in self.windows('.*'), 5, 'box closed after ' + key)

    def keys(self, *keys):
        self.xdo('windowfocus', '--sync', self.main)
        for k in keys:
            self.xdo('key', k)
            time.sleep(0.3)

    def click(self, x, y):
        """Clicks at client coordinates of the main window."""
        wx, wy, _, _ = self.geometry(self.main)
        self.xdo('mousemove', '--sync', str(wx + x), str(wy + y))
        self.xdo('click', '1')
        time.sleep(0.3)

    def type_text(self, text):
        self.xdo('type', '--delay', '40', text)

    def screenshot(self, label):
        self.shot_no += 1
        path = os.path.join(self.shots, '%02d-%s.png' % (self.shot_no, label))
        self.run('import', '-window', 'root', path, check=True)
        return path

    def qr_text(self, label):
        """What zbarimg reads in the QR panel ('' when nothing)."""
        crop = self.region(self.screenshot(label), *self.box(*QR_PANEL))
        return self.run('zbarimg', '--raw', '-q', crop).stdout.strip()

    def pixel(self, shot, x, y):
        """RGB at client coordinates in a screenshot, as '#RRGGBB'."""
        wx, wy, _, _ = self.geometry(self.main)
        out = self.run('convert', shot, '-format', '%%[hex:p{%d,%d}]' % (wx + x, wy + y), 'info:')
        return '#' + out.stdout.strip()[:6].upper()

    def region(self, shot, x, y, w, h):
        """A client rectangle cut out of a screenshot; returns its path."""
        wx, wy, _, _ = self.geometry(self.main)
        out = shot.replace('.png', '-%d-%d-%dx%d.png' % (x, y, w, h))
        self.run('convert', shot, '-crop', '%dx%d+%d+%d' % (w, h, wx + x, wy + y), '+repage', out,
                 check=True)
        return out

    def same_pixels(self, a, b):
        return self.run('compare', '-metric', 'AE', a, b, 'null:').stderr.strip() == '0'

    def wm_icon(self, wid):
        """(width, height, ARGB pixels) of the first icon Wine gives the X window."""
        out = self.run('xprop', '-notype', '-id', wid, '32c', '_NET_WM_ICON', timeout=30).stdout
        if '=' not in out:
            return 0, 0, []
        values = [int(v) for v in out.split('=', 1)[1].replace(',', ' ').split()]
        w, h = values[0], values[1]
        return w, h, values[2:2 + w * h]

    # ---- clipboard and links ----
    def set_clipboard(self, text):
        subprocess.run(['xclip', '-selection', 'clipboard'], input=text.encode(), env=self.env, timeout=10)

    def clipboard(self):
        out = self.run('xclip', '-o', '-selection', 'clipboard', timeout=10)
        return out.stdout.strip() if out.returncode == 0 else ''

    def wait_link(self, old='', timeout=30):
        def fresh():
            c = self.clipboard()
            return c if c != old and LINK_RE.match(c) else None
        return wait_for(fresh, timeout, 'a new link on the clipboard')

    # ---- registry ----
    def reg_value(self, key, name=None):
        out = self.run('wine', 'reg', 'query', key, *(['/v', name] if name else ['/ve']))
        for line in out.stdout.splitlines():
            parts = line.strip().split('    ')
            if len(parts) >= 3 and parts[1].strip() == 'REG_SZ':
                return parts[2] if len(parts) == 3 else '    '.join(parts[2:])
        return None


def loopback(link):
    """A same-network link with its host replaced by 127.0.0.1."""
    u = urllib.parse.urlsplit(link)
    if u.scheme != 'http':
        raise Failure('not a same-network link: ' + link)
    return urllib.parse.urlunsplit((u.scheme, '127.0.0.1:%d' % u.port, u.path, u.query, ''))


def fetch(url, timeout=15):
    """(status, body bytes) with curl; status 0 when no connection."""
    if not re.match(r'^http://127\.[0-9.]+:[0-9]+/', url):
        raise Failure('refusing to fetch a non-loopback address: ' + url)
    out = subprocess.run(['curl', '-s', '--max-time', str(timeout), '-o', '-', '-w', '\n%{http_code}',
                          url], capture_output=True, timeout=timeout + 5)
    body, _, code = out.stdout.rpartition(b'\n')
    return int(code or b'0'), body
