#!/usr/bin/env python3
"""End-to-end scenarios of the Windows program under Wine + Xvfb.

  gui_e2e.py --exe vornhale.exe --work DIR [--fake-tunnel fake_cloudflared.exe] SCENARIO

Screenshots stay in DIR/screenshots. Exit code 0 when every check passed.
"""
import argparse
import io
import os
import shutil
import subprocess
import sys
import time
import traceback
import zipfile

from guilib import QR_PANEL, Failure, Session, check, fetch, loopback, wait_for

VERB_KEYS = [r'HKCU\Software\Classes\*\shell\VornHaleShare',
             r'HKCU\Software\Classes\Directory\shell\VornHaleShare']

# Client coordinates of controls (centre points).
AT_CUSTOM_LINK = (180, 283)
AT_FIRST_ROW = (100, 470)   # the list's first row, below its header
AT_COPY_LINK = (181, 707)
AT_STOP_SELECTED = (65, 707)
AT_PAUSE = (307, 707)
AT_PASSWORD = (120, 397)
AT_DROP_ZONE = (180, 110)
AT_COMBO = (400, 397)
AT_COPY = (695, 279)        # Copy beside the latest-link field ("&Pause" shares its mnemonic)
# Client rectangles (x, y, w, h) at 96 DPI.
LINK_FIELD = (362, 268, 291, 22)   # inside the latest-link field's border
COPY_BUTTON = (660, 266, 70, 26)


def make_file(s, name, size, seed):
    path = os.path.join(s.work, name)
    data = bytes((i * 131 + seed) & 0xFF for i in range(size))
    with open(path, 'wb') as f:
        f.write(data)
    return path, data


def launch(s, *paths, prompt=True):
    """Starts the program; answers No to the question about the missing tunnel client."""
    proc = s.start(*[s.winpath(p) for p in paths])
    s.wait_main()
    if prompt:
        box = s.wait_box()
        s.screenshot('client-prompt')
        s.answer(box, 'n')
    time.sleep(1.0)  # a forwarded path is staged 300 ms after it arrived
    return proc


def forward(s, *paths):
    procs = [s.start(s.winpath(p)) for p in paths]
    check(all(p.wait(timeout=60) == 0 for p in procs), 'forwarding instances exit 0')
    time.sleep(1.0)


def share(s, *keys, old='', timeout=30):
    s.keys(*keys, 'alt+s')
    return s.wait_link(old=old, timeout=timeout)


def select_row(s, row):
    """Selects a list row as a person would: click the first, arrow down."""
    s.click(*AT_FIRST_ROW)
    for _ in range(row):
        s.xdo('key', 'Down')
        time.sleep(0.2)


def row_link(s, row):
    select_row(s, row)
    s.click(*AT_COPY_LINK)
    time.sleep(0.3)
    return s.clipboard()


def premium_box(s, *keys):
    if keys:
        s.keys(*keys)
    s.answer(s.wait_box('Premium feature'), 'Return')


def stop_all(s):
    s.keys('alt+a')
    s.answer(s.wait_box(), 'y')


def close(s, proc, ask=True):
    s.keys('alt+F4')
    if ask:
        s.answer(s.wait_box(), 'y')
    rc = proc.wait(timeout=30)
    check(rc == 0, 'closed: exit code 0 (%d)' % rc)


def expect_served(link, name, data):
    page_status, page = fetch(loopback(link))
    check(page_status == 200 and name.encode('utf-8') in page, 'download page names ' + name)
    status, body = fetch(loopback(link) + '?dl=1')
    check(status == 200 and body == data, 'the file comes back byte for byte (%d bytes)' % len(data))


def expect_gone(link):
    # The stop runs once the message box has closed: allow it a few seconds.
    for _ in range(20):
        status, _ = fetch(loopback(link), timeout=5)
        if status != 200:
            break
        time.sleep(0.5)
    check(status != 200, 'link no longer served (%d)' % status)


def scenario_lan_share(s, args):
    path, data = make_file(s, 'relatório ünï.bin', 150000, 7)
    # Only element 1 counts: a later "--self-test" is ignored.
    first = s.start(s.winpath(path), '--self-test')
    s.wait_main()
    s.answer(s.wait_box(), 'n')
    shot = s.screenshot('empty-panel')
    check(s.qr_text('empty-panel') == '', 'empty QR panel holds no symbol')
    check(s.pixel(shot, 545, 54 + 32) in ('#FFAEC9', '#E86E91', '#FFD764'), 'tree crown drawn')
    check(s.pixel(shot, 545, 54 + 120) == '#6E4030', 'tree trunk drawn')
    check(s.pixel(shot, 5, 100) == '#FFF0F5', 'window background sakura')
    w, h, icon = s.wm_icon(s.main)
    pinkish = [p for p in icon if (p >> 24) == 0xFF and ((p >> 16) & 0xFF) > 0xC0 and
               ((p >> 8) & 0xFF) < 0xA0 and 0x60 < (p & 0xFF) < 0xC0]
    check(w == 32 and len(pinkish) > 20, 'without logo.ico the window shows the built-in blossom icon')
    for key in VERB_KEYS:
        check(s.reg_value(key) == 'Share with Vorn-Hale', key + ' default value')
        check(s.reg_value(key, 'Icon') == 'shell32.dll,71', key + ' Icon')
        check(s.reg_value(key + r'\command') == '"%s" "%%1"' % s.winpath(s.exe),
              key + r'\command quotes program and argument')
    time.sleep(1.0)
    link = share(s, 'alt+n')
    check(link.startswith('http://'), 'same-network link on the clipboard: ' + link)
    expect_served(link, 'relatório ünï.bin', data)
    time.sleep(1.0)  # the download count is refreshed by a posted message
    check(s.qr_text('shared') == link, 'QR panel decodes to the clipboard link')
    # Stop All: No keeps the share, Yes ends it.
    s.keys('alt+a')
    s.answer(s.wait_box(), 'n')
    check(fetch(loopback(link))[0] == 200, 'Stop All answered No keeps serving')
    stop_all(s)
    expect_gone(link)
    time.sleep(0.5)
    check(s.qr_text('stopped-all') == '', 'QR panel back to the tree after Stop All')
    close(s, first, ask=False)  # nothing hosted: closing asks nothing


def scenario_close_with_items(s, args):
    path, data = make_file(s, 'notes.txt', 4096, 3)
    first = launch(s, path)
    # Internet mode (the default) without a tunnel client falls back to a LAN link.
    link = share(s)
    check(link.startswith('http://'), 'Internet item without client gets a LAN link: ' + link)
    expect_served(link, 'notes.txt', data)
    s.set_clipboard('placeholder')
    s.click(*AT_COPY_LINK)
    check(s.clipboard() == 'placeholder', 'Copy Link without a selected row copies nothing')
    check(row_link(s, 0) == link, 'Copy Link on row 0 copies its link')
    # The list's own notifications still reach the window: a double click copies.
    s.set_clipboard('placeholder')
    s.click(*AT_FIRST_ROW)
    s.xdo('click', '--repeat', '2', '--delay', '80', '1')
    time.sleep(0.5)
    check(s.clipboard() == link, 'double click on row 0 copies its link')
    s.click(*AT_PAUSE)
    premium_box(s)
    s.keys('alt+F4')
    s.answer(s.wait_box(), 'n')
    time.sleep(0.5)
    check(s.main_windows() != [] and fetch(loopback(link))[0] == 200, 'No keeps the window and the share')
    close(s, first)
    expect_gone(link)


def scenario_second_instance(s, args):
    a, data_a = make_file(s, 'alpha.bin', 20000, 1)
    b, data_b = make_file(s, 'beta.bin', 30000, 2)
    c, data_c = make_file(s, 'gamma.bin', 40000, 3)
    first = launch(s)
    check(s.start().wait(timeout=60) == 0, 'second instance without a path exits 0')
    forward(s, a)
    check(len(s.main_windows()) == 1, 'no second main window')
    link_a = share(s, 'alt+n')
    expect_served(link_a, 'alpha.bin', data_a)
    # Two forwarded paths within 300 ms become one selection of both.
    forward(s, b, c)
    latest = share(s, old=link_a)
    links = {latest, row_link(s, 1), row_link(s, 2)}
    check(len(links) == 2, 'rows 1 and 2 carry two different links')
    check({fetch(loopback(link) + '?dl=1')[1] for link in links} == {data_b, data_c},
          'both forwarded files were shared together')
    select_row(s, 0)
    s.click(*AT_STOP_SELECTED)
    expect_gone(link_a)
    check(fetch(loopback(latest))[0] == 200, 'Stop Selected on row 0 leaves the other shares')
    stop_all(s)
    close(s, first, ask=False)


def scenario_custom_link(s, args):
    a, data_a = make_file(s, 'custom.bin', 5000, 9)
    b, _ = make_file(s, 'reserved.bin', 5000, 10)
    first = launch(s, a)
    s.click(*AT_CUSTOM_LINK)
    s.type_text('  my-link_1\t')
    link = share(s, 'alt+n')
    check(link.endswith('/my-link_1'), 'custom link used, blanks trimmed: ' + link)
    expect_served(link, 'custom.bin', data_a)
    forward(s, b)
    s.click(*AT_CUSTOM_LINK)
    s.type_text('admin')
    s.keys('alt+s')
    box = s.wait_box()
    s.screenshot('reserved-warning')
    s.answer(box, 'Return')
    time.sleep(0.5)
    check(s.clipboard() == link, 'refused custom link leaves the clipboard alone')
    # Two pending paths and a custom link: warned, both stay pending; with the
    # field cleared they are shared.
    c, data_c = make_file(s, 'pair one.bin', 1000, 11)
    d, data_d = make_file(s, 'pair two.bin', 2000, 12)
    forward(s, c, d)
    s.click(*AT_CUSTOM_LINK)
    s.xdo('key', 'End')
    s.xdo('key', '--repeat', '8', 'BackSpace')
    s.type_text('x')
    s.keys('alt+s')
    s.answer(s.wait_box(), 'Return')
    s.click(*AT_CUSTOM_LINK)
    s.xdo('key', 'End', 'BackSpace')
    share(s, old=link)
    check({fetch(loopback(row_link(s, r)) + '?dl=1')[1] for r in (1, 2)} == {data_c, data_d},
          'after clearing the field the pending pair is shared')
    stop_all(s)
    close(s, first, ask=False)


def forge_messages(s, args, proc, label):
    """Another program posts 1025 (a made-up pointer, then 0), 1026 and 1030
    and posts and sends WM_NOTIFY with a made-up pointer: the program must
    ignore them all and keep running."""
    out = subprocess.run(['wine', args.forger], env=s.env, cwd=s.work, capture_output=True,
                         text=True, timeout=120)
    check(out.returncode == 0, label + ': the forger found the window\n' + out.stdout)
    time.sleep(3.0)
    check(proc.poll() is None and s.main_windows() != [],
          label + ': still running after forged messages')


def scenario_internet(s, args):
    """Runs inside a private network namespace (loopback only)."""
    with open(os.path.join(s.appdir, 'script.txt'), 'w') as f:
        f.write('sleep 1500\nprint 2026-01-01 INF |  https://quiet-blossom-test.trycloudflare.com  |\n'
                'hang\n')
    path, _ = make_file(s, 'public.bin', 10000, 5)
    first = launch(s, path, prompt=False)
    time.sleep(0.5)
    check(s.boxes() == [], 'no client prompt when cloudflared.exe is present')
    pids = os.path.join(s.appdir, 'pids.txt')
    starts = lambda: len(open(pids).read().split()) if os.path.exists(pids) else 0
    forge_messages(s, args, first, 'no tunnel')
    check(starts() == 0, 'no tunnel client started by forged messages')
    # Offline server is a premium placeholder that puts Internet back.
    premium_box(s, 'alt+n', 'alt+o')
    s.set_clipboard('placeholder')
    s.keys('alt+s')
    time.sleep(2.0)
    check(s.clipboard() == 'placeholder', 'Internet item waits for the tunnel (nothing copied yet)')
    link = s.wait_link(old='placeholder', timeout=60)
    check(link.startswith('https://quiet-blossom-test.trycloudflare.com/'),
          'public link published after Offline server put Internet back: ' + link)
    time.sleep(0.5)
    check(s.qr_text('published') == link, 'QR panel shows the public link')
    # Forged messages while the tunnel runs: no restart, no link emptied.
    s.set_clipboard('sentinel')
    forge_messages(s, args, first, 'tunnel running')
    check(s.clipboard() == 'sentinel', 'forged 1025 copied nothing')
    check(starts() == 1, 'forged 1026 restarted no tunnel client')
    check(row_link(s, 0) == link, 'the public link is unchanged')
    # Stopping the only Internet item while a same-network item remains stops
    # the tunnel client (the next Internet item starts a new one) and keeps
    # the server.
    lan, lan_data = make_file(s, 'local.bin', 7000, 6)
    forward(s, lan)
    lan_link = share(s, 'alt+n', old=link)
    expect_served(lan_link, 'local.bin', lan_data)
    select_row(s, 0)
    s.click(*AT_STOP_SELECTED)
    time.sleep(1.0)
    check(fetch(loopback(lan_link))[0] == 200, 'server kept for the same-network item')
    more, _ = make_file(s, 'again.bin', 100, 8)
    forward(s, more)
    s.keys('alt+i', 'alt+s')
    wait_for(lambda: starts() == 2, 20, 'a new tunnel client for the new Internet item')
    close(s, first)


def scenario_newest_link(s, args):
    """Runs inside a private network namespace (loopback only). A same-network
    share, then an Internet share whose tunnel has not published yet: the
    latest-link field, Copy and the QR panel show the newest item, which has
    no link yet, instead of the older item's link."""
    with open(os.path.join(s.appdir, 'script.txt'), 'w') as f:
        f.write('waitfor publish.txt\n'
                'print 2026-01-01 INF |  https://late-petal-test.trycloudflare.com  |\nhang\n')
    lan, lan_data = make_file(s, 'first.bin', 3000, 13)
    first = launch(s, lan, prompt=False)
    time.sleep(0.5)
    nothing = s.screenshot('nothing-shared')
    lan_link = share(s, 'alt+n')
    expect_served(lan_link, 'first.bin', lan_data)
    time.sleep(0.5)
    check(s.qr_text('lan-shared') == lan_link, 'QR panel shows the same-network link')
    net, _ = make_file(s, 'second.bin', 4000, 14)
    forward(s, net)
    s.keys('alt+i', 'alt+s')
    time.sleep(2.0)
    waiting = s.screenshot('waiting-for-tunnel')
    for what, rect in (('latest-link field empty', LINK_FIELD), ('Copy disabled', COPY_BUTTON),
                       ('QR panel shows the empty picture', QR_PANEL)):
        check(s.same_pixels(s.region(nothing, *rect), s.region(waiting, *rect)),
              what + ' while the tunnel has not published')
    s.click(*AT_COPY)
    check(s.clipboard() == lan_link, 'clipboard left as it was, Copy copies nothing')
    open(os.path.join(s.appdir, 'publish.txt'), 'w').close()
    link = s.wait_link(old=lan_link, timeout=60)
    check(link.startswith('https://late-petal-test.trycloudflare.com/'),
          'published Internet link copied: ' + link)
    time.sleep(0.5)
    check(s.qr_text('published') == link, 'QR panel draws the Internet link')
    s.set_clipboard('placeholder')
    s.click(*AT_COPY)
    check(s.clipboard() == link, 'latest-link field shows the Internet link and Copy copies it')
    close(s, first)


def scenario_high_dpi(s, args):
    """At 144 DPI (a prefix with LogPixels 144): the window and its QR panel
    are scaled and the symbol in the screenshot decodes to the link."""
    path, data = make_file(s, 'wide view.bin', 60000, 4)
    first = launch(s, path)
    w, h = s.geometry(s.main)[2:]
    check(w >= s.px(744) - 10 and h >= s.px(805) - 40, 'main window scaled to %dx%d' % (w, h))
    link = share(s, 'alt+n')
    expect_served(link, 'wide view.bin', data)
    time.sleep(1.0)
    check(s.qr_text('shared-144dpi') == link, 'QR panel at 144 DPI decodes to the clipboard link')
    stop_all(s)
    close(s, first, ask=False)


def scenario_premium(s, args):
    """Premium placeholders explain themselves and put their control back."""
    subprocess.run(['convert', '-size', '32x32', 'xc:#0000FF', '-define', 'icon:auto-resize=32,16',
                    os.path.join(s.appdir, 'logo.ico')], check=True, timeout=60)
    first = s.start()
    s.wait_main()
    w, h, icon = s.wm_icon(s.main)
    check(w == 32 and h == 32 and set(icon) == {0xFF0000FF}, 'logo.ico beside the program is the icon')
    s.answer(s.wait_box(), 'n')
    before = s.screenshot('premium-before')
    checkbox = (240, 390, 14, 14)      # Auto-zip's box
    radios = (10, 200, 16, 46)         # the two mode radio circles
    combo = (362, 388, 90, 18)         # Auto-expire's text
    s.click(*AT_PASSWORD)
    premium_box(s)
    premium_box(s, 'alt+z')
    s.click(*AT_COMBO)                 # opens the list ...
    s.xdo('key', 'Escape')             # ... and closes it without a choice
    time.sleep(1.0)
    check(s.boxes('Premium feature') == [], 'opening and closing Auto-expire shows nothing')
    s.xdo('key', 'Down')               # "7 days"
    premium_box(s)
    s.xdo('key', 'Tab')                # focus away, so the combo is drawn plainly
    premium_box(s, 'alt+n', 'alt+o')
    s.xdo('key', 'Tab')
    time.sleep(0.5)
    after = s.screenshot('premium-after')
    for what, rect in (('Auto-zip unchecked again', checkbox), ('Auto-expire shows "24 hours" again', combo),
                       ('Offline server leaves Internet checked', radios)):
        check(s.same_pixels(s.region(before, *rect), s.region(after, *rect)), what)
    s.click(*AT_PAUSE)
    time.sleep(1.0)
    check(s.boxes('Premium feature') == [], 'Pause / Resume without a selected row shows no box')
    close(s, first, ask=False)


def scenario_picker(s, args):
    """The drop zone's menu and file picker, driven from the keyboard."""
    os.makedirs(os.path.join(s.work, 'picked'))
    a, data_a = make_file(s, os.path.join('picked', 'one.bin'), 3000, 21)
    b, data_b = make_file(s, os.path.join('picked', 'two.bin'), 6000, 22)
    first = launch(s)
    before = set(s.windows('.*'))
    s.click(*AT_DROP_ZONE)            # focus on press, the menu on release
    wait_for(lambda: set(s.windows('.*')) - before, 10, 'drop zone menu')
    s.xdo('key', 'Down')
    s.xdo('key', 'Return')            # "Files..."
    dlg = s.wait_box('^Select up to 3 files to share$', timeout=30)
    s.xdo('windowfocus', '--sync', dlg)
    s.type_text(s.winpath(os.path.join(s.work, 'picked')))
    s.xdo('key', 'Return')            # into the folder
    time.sleep(1.0)
    s.type_text('"one.bin" "two.bin"')
    s.xdo('key', 'Return')
    wait_for(lambda: dlg not in s.windows('.*'), 10, 'file dialog closed')
    time.sleep(0.5)
    latest = share(s, 'alt+n')
    other = row_link(s, 0)
    check(other != latest, 'two rows from one picker selection')
    check({fetch(loopback(latest) + '?dl=1')[1], fetch(loopback(other) + '?dl=1')[1]} ==
          {data_a, data_b}, 'both picked files are shared')
    # Dismissing the menu does nothing; Enter and Space on the focused drop
    # zone open it again.
    for how in ('click', 'Return', 'space'):
        shown = set(s.windows('.*'))
        if how == 'click':
            s.click(*AT_DROP_ZONE)
        else:
            s.keys(how)
        popup = wait_for(lambda: set(s.windows('.*')) - shown, 10, 'menu after ' + how)
        s.xdo('key', 'Escape')
        wait_for(lambda: not (set(s.windows('.*')) & popup), 10, 'menu dismissed')
        check(s.boxes('^Select') == [], 'menu opened by %s and dismissed without a picker' % how)
    stop_all(s)
    close(s, first, ask=False)


def scenario_folder(s, args):
    """A folder from the command line (the Explorer verb for folders) is
    compressed by the PowerShell stand-in and served as a zip archive."""
    name = 'Mom\u2019s photos'  # the right single quote that phones and Word type
    folder = os.path.join(s.work, name)
    os.makedirs(os.path.join(folder, 'day 1'))
    for rel, size in {'a.jpg': 5000, os.path.join('day 1', 'b.jpg'): 7000}.items():
        make_file(s, os.path.join(name, rel), size, len(rel))
    first = launch(s, folder)
    link = share(s, 'alt+n', timeout=60)
    status, body = fetch(loopback(link) + '?dl=1')
    check(status == 200 and body[:4] == b'PK\x03\x04', 'the folder comes as a zip archive')
    # zipfile reads the UTF-8 name flag; unzip turns such names into the locale's charset.
    listing = zipfile.ZipFile(io.BytesIO(body)).namelist()
    check(name + '/a.jpg' in listing and name + '/day 1/b.jpg' in listing,
          'the archive holds the folder with its files')
    close(s, first)


def scenario_close_while_sharing(s, args):
    """A close queued right behind Start Sharing for a folder (the sharing
    call pumps messages before it compresses, so the close may run inside
    it): the program ends with 0 and asks nothing."""
    folder = os.path.join(s.work, 'quick folder')
    os.makedirs(folder)
    make_file(s, os.path.join('quick folder', 'x.bin'), 100, 1)
    first = launch(s, folder)
    s.keys('alt+n')
    s.xdo('key', '--delay', '0', 'alt+s', 'alt+F4')  # the close waits in the queue
    rc = first.wait(timeout=60)
    check(rc == 0, 'closed while sharing: exit code 0 (%d)' % rc)


SCENARIOS = {
    'close_while_sharing': scenario_close_while_sharing,
    'folder': scenario_folder,
    'picker': scenario_picker,
    'premium': scenario_premium,
    'lan_share': scenario_lan_share,
    'close_with_items': scenario_close_with_items,
    'second_instance': scenario_second_instance,
    'custom_link': scenario_custom_link,
    'internet': scenario_internet,
    'newest_link': scenario_newest_link,
    'high_dpi': scenario_high_dpi,
}

# Scenarios with a tunnel client stand-in, run in a private network namespace.
WITH_TUNNEL = ('internet', 'newest_link')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--exe', required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('--fake-tunnel')
    ap.add_argument('--fake-powershell')
    ap.add_argument('--forger')
    ap.add_argument('scenario', choices=sorted(SCENARIOS))
    args = ap.parse_args()
    if args.scenario in WITH_TUNNEL and os.environ.get('VH_NETNS') != '1':
        if os.geteuid() != 0:
            print('SKIP %s: a private network namespace needs root' % args.scenario)
            return 77
        # Loopback only: the program's reachability probe must not leave the machine.
        cmd = ['unshare', '-n', 'sh', '-c', 'ip link set lo up && exec "$@"', 'sh',
               sys.executable] + sys.argv
        env = dict(os.environ, VH_NETNS='1')
        return subprocess.call(cmd, env=env)
    client = args.fake_tunnel if args.scenario in WITH_TUNNEL else None
    s = Session(args.work, args.exe, with_client=client, dpi=144 if args.scenario == 'high_dpi' else 96)
    if args.fake_powershell:
        shutil.copy(args.fake_powershell, os.path.join(s.appdir, 'powershell.exe'))
    try:
        SCENARIOS[args.scenario](s, args)
        print('PASS ' + args.scenario)
        return 0
    except Exception:
        traceback.print_exc()
        try:
            s.screenshot('failure')
        except Exception:
            pass
        print('FAIL %s (screenshots in %s)' % (args.scenario, s.shots))
        return 1
    finally:
        s.close()


if __name__ == '__main__':
    sys.exit(main())
