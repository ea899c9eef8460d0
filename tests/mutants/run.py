#!/usr/bin/env python3
"""Faults planted one at a time in Kelvane's sources, each run against the e2e scenarios that
must catch it: a check that cannot fail for the fault it is there for shows up as SURVIVED.

    tests/mutants/run.py BUILD_DIR [NAME...]     (after ./make.sh test has built everything)

KELVANE_QEMU=1 runs them on the qemu-i386 path. The sources are restored and Kelvane.exe built
again after each, whatever happens; exits 1 if any mutant survived."""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]

# name: (file, what is there, what the fault puts instead, scenarios that must catch it); a fault
# that needs more than one change gives tuples of what is there and what goes instead.
MUTANTS = {
    'winmm-at-start': ('device/Module1.h', '  public:\n',
                       '  public:\n    Module1() { LoadOnce(); }\n', ['form_and_keyboard']),
    'winmm-never': ('device/system_winmm.cpp', 'module.reset(LoadWinmmFromSystemFolder());',
                    'module.reset(tried ? nullptr : LoadWinmmFromSystemFolder());',
                    ['form_and_keyboard']),
    'no-empty-clipboard': ('win32/clipboard.cpp', 'if (!clipboard.open() || !EmptyClipboard())',
                           'if (!clipboard.open())', ['copy_and_focus']),
    'never-greyed': ('report/report_surface.cpp', '(lines_.empty() ? MF_GRAYED : 0)', '0',
                     ['copy_and_focus']),
    'retry-forever': ('win32/clipboard.cpp', 'attempt < kOpenAttempts && !open_', '!open_',
                      ['copy_and_focus']),
    'no-repaint-on-focus-loss': ('report/report_surface.cpp',
                                 '        case WM_SETFOCUS:\n        case WM_KILLFOCUS:\n',
                                 '        case WM_SETFOCUS:\n', ['copy_and_focus']),
    'copy-loses-last-line': ('report/report_surface.cpp',
                             'CopyTextToClipboard(hwnd_, ReportText());',
                             'CopyTextToClipboard(hwnd_, ReportText().substr(0, '
                             'ReportText().rfind(u"\\r\\n")));', ['copy_and_focus']),
    'copy-empty-report': ('report/report_surface.cpp', '    if (!lines_.empty()) {\n        // A',
                          '    if (true) {\n        // A', ['copy_and_focus']),
    'one-open-attempt': ('win32/clipboard.cpp', 'kOpenAttempts = 10', 'kOpenAttempts = 1',
                         ['copy_and_focus']),
    'box-with-icon': ('app/frmKelvane.cpp', 'Wide(kelvane::kPresenceTitle), MB_OK);',
                      'Wide(kelvane::kPresenceTitle), MB_OK | MB_ICONINFORMATION);', ['no_device']),
    'tone-on-both-channels': ('signal/test_tone.cpp',
                              'samples[static_cast<std::size_t>(frame) * channels + on] =',
                              'samples[static_cast<std::size_t>(frame) * channels + on] = '
                              'samples[static_cast<std::size_t>(frame) * channels + 1 - on] =',
                              ['tone']),
    'tone-on-wave-mapper': ('device/tone_player.cpp', 'open_(&device_, 0, &format',
                            'open_(&device_, WAVE_MAPPER, &format', ['tone']),
    'tone-without-fade': ('signal/test_tone.cpp', 'if (fromEdge >= kToneFadeFrames) {',
                          'if (true) {', ['tone']),
    'tone-blocks-the-window': ('device/tone_player.cpp',
                               '    const UINT rc = write_(device_, &header_, sizeof header_);\n',
                               '    const UINT rc = write_(device_, &header_, sizeof header_);\n'
                               '    while (rc == MMSYSERR_NOERROR && !(header_.dwFlags & WHDR_DONE)) {\n'
                               '        Sleep(10);\n    }\n', ['tone']),
    'button-keeps-tone': ('app/frmKelvane.cpp', '    player_.Stop();\n    Picture1.Clear();',
                          '    Picture1.Clear();', ['tone']),
    'choice-keeps-old-tone': ('device/tone_player.cpp', '    Stop();\n    if (!Bind()) {',
                              '    if (!Bind()) {', ['tone']),
    'no-channels-enables-tones': ('report/report_surface.cpp',
                                  'lines_.empty() || toneChannels_ <= 0', 'lines_.empty()',
                                  ['tone']),
    'negative-channels-enables-tones': ('report/report_surface.cpp', 'toneChannels_ <= 0',
                                        'toneChannels_ == 0', ['tone']),
    'loopback-ignores-recorded-channel': (
        'signal/loopback_judgement.cpp',
        'tone.strongerIn = stronger == 0 ? RecordedSide::Left : RecordedSide::Right;',
        'tone.strongerIn = tone.channel == ToneChannel::Left ? RecordedSide::Left : '
        'RecordedSide::Right;', ['loopback']),
    'loopback-heard-at-any-level': ('signal/loopback_judgement.cpp',
                                    'tone.heard = present[i] && tone.levelDbfs - tone.floorDbfs >= '
                                    'kHeardAboveFloorDb;',
                                    'tone.heard = pitch[i] > 0;', ['loopback']),
    'loopback-plays-before-recording': ('device/loopback_check.cpp',
                                        '    running_ = true;\n    return true;',
                                        '    running_ = true;\n    PlayTones();\n    return true;',
                                        ['loopback']),
    'loopback-records-output-device': ('device/wave_recorder.cpp',
                                       'open_(&device_, WAVE_MAPPER, &format',
                                       'open_(&device_, 0, &format', ['loopback']),
    'loopback-blocks-the-window': ('app/frmKelvane.cpp',
                                   '    Picture1.SetLoopbackRunning(true);\n',
                                   '    Picture1.SetLoopbackRunning(true);\n'
                                   '    for (MSG msg; loopback_.Running();) {\n'
                                   '        if (PeekMessageW(&msg, hwnd_, MM_WOM_OPEN, MM_WIM_DATA, '
                                   'PM_REMOVE)) {\n'
                                   '            DispatchMessageW(&msg);\n'
                                   '        } else {\n'
                                   '            Sleep(5);\n'
                                   '        }\n'
                                   '    }\n', ['loopback']),
    'loopback-broadband-floor': ('signal/tone_reading.cpp', '    return BandDbfs(band);\n}\n\n',
                                 '    double squares = 0;\n    int n = 0;\n'
                                 '    for (const auto& [from, to] : QuietStretches(starts, rec.frames)) {\n'
                                 '        for (int f = from; f < to; ++f, ++n) {\n'
                                 '            squares += rec.At(f, channel) * rec.At(f, channel);\n'
                                 '        }\n    }\n'
                                 '    return n ? Dbfs(2 * squares / n) + 0 * band.power : '
                                 'kSilenceDbfs;\n}\n\n', ['loopback']),
    'loopback-integrity-skipped': ('signal/listens.cpp',
                                   'const bool whole = clockKept && !judgement.broken;',
                                   'const bool whole = true;', ['loopback']),
    'loopback-no-second-recording': ('signal/listens.cpp', 'return made_ == 1 ?',
                                     'return made_ == 0 ?', ['loopback']),
    'loopback-buffers-queued-one-by-one': (
        'device/wave_recorder.cpp',
        ('i < kBuffers && rc == MMSYSERR_NOERROR',
         'taken_ == kBuffers || header != &headers_[taken_]', '    ++taken_;\n'),
        ('i < 8 && rc == MMSYSERR_NOERROR', 'header != &headers_[taken_ % 8]',
         '    ++taken_;\n    add_(device_, header, sizeof *header);\n'), ['loopback']),
    'gaps-never-counted': ('signal/loopback_judgement.cpp', 'tone.gaps = breaks.gaps;',
                           'tone.gaps = 0 * breaks.gaps;', ['loopback']),
    # All that is not the tone, noise included, in place of its harmonics.
    'distortion-from-whole-residual': (
        'signal/tone_faults.cpp',
        '    return tone > 0 ? 100 * std::sqrt(harmonics / tone) : 0;',
        '    double squares = 0;\n'
        '    for (int f = steady.from; f < steady.to; ++f) {\n'
        '        squares += rec.At(f, channel) * rec.At(f, channel);\n'
        '    }\n'
        '    harmonics = 0 * harmonics + 2 * squares / (steady.to - steady.from) - tone;\n'
        '    return tone > 0 ? 100 * std::sqrt(harmonics / tone) : 0;',
        ['loopback']),
    'clip-line-whatever-the-peak': ('app/loopback_lines.cpp', 'if (judgement.clipped) {',
                                    'if (true) {', ['loopback']),
    'hum-read-under-the-tones': ('signal/loopback_judgement.cpp',
                                 'judgement.hum = FindHum(rec, analysed, spans);',
                                 'judgement.hum = FindHum(rec, analysed, {});', ['loopback']),
    'balance-the-wrong-way': ('signal/loopback_judgement.cpp',
                              'leftLouderBy > 0 ? ToneChannel::Right : ToneChannel::Left;',
                              'leftLouderBy > 0 ? ToneChannel::Left : ToneChannel::Right;',
                              ['loopback']),
    # A break heard once is a fault of the sound at once, with no second listen.
    'one-break-named-at-once': ('signal/listens.cpp',
                                ('|| made_ == kMostListens) {', 'seen.broke >= 2 ?'),
                                ('|| true) {', 'seen.broke >= 1 ?'), ['loopback']),
    'breaks-on-a-fade-called-lost-sound': (
        'signal/loopback_judgement.cpp',
        'fadesSilenced[i] = SilencedNearFades(reads);',
        'fadesSilenced[i] = 0 * SilencedNearFades(reads);',
        ['loopback']),
    'second-listen-skipped': ('signal/listens.cpp',
                              '|| made_ == kMostListens) {', '|| true) {', ['loopback']),
    # A listen that lost sound taken as the first sighting of the next one's breaks.
    'third-listen-skipped': ('signal/listens.cpp', '|| made_ == kMostListens) {',
                             '|| made_ == 2) {', ['loopback']),
    'no-watermark': ('report/report_surface.cpp', '    if (!icon_) {\n        return;\n    }\n'
                     '    const COLORREF', '    if (icon_) {\n        return;\n    }\n'
                     '    const COLORREF', ['legibility']),
}

RUN = '''. tests/e2e/wine_env.sh "$1" && shift && set_dpi 96 && for s in "$@"; do
    timeout 600 wine "$build/tests/e2e/kelvane_e2e.exe" --only "$s" "$(winpath "$build/Kelvane.exe")"
done'''


def rebuild(build):
    return subprocess.run(['cmake', '--build', build, '--target', 'Kelvane'], cwd=ROOT,
                          capture_output=True, text=True)


def main():
    build, names = sys.argv[1], sys.argv[2:] or list(MUTANTS)
    survived = 0
    for name in names:
        path, there, fault, scenarios = MUTANTS[name]
        source = ROOT / path
        original = source.read_text()
        theres, faults = (there, fault) if isinstance(there, tuple) else ((there,), (fault,))
        if any(original.count(t) != 1 for t in theres):
            print(f'{name}: the code it changes is no longer there once; update this mutant')
            survived += 1
            continue
        mutated = original
        for t, f in zip(theres, faults):
            mutated = mutated.replace(t, f)
        try:
            source.write_text(mutated)
            built = rebuild(build)
            if built.returncode:
                print(f'{name}: does not build\n{built.stdout[-1500:]}')
                survived += 1
                continue
            out = subprocess.run(['bash', '-c', RUN, 'run', build] + scenarios, cwd=ROOT,
                                 capture_output=True, text=True).stdout
        finally:
            source.write_text(original)
        failures = [line for line in out.splitlines() if line.startswith('FAIL')]
        survived += not failures
        print(f'{name}: {"killed" if failures else "SURVIVED"} ({", ".join(scenarios)})')
        for line in failures:
            print('    ' + line[:200])
    rebuild(build)
    print(f'{len(names) - survived} killed, {survived} survived')
    return 1 if survived else 0


if __name__ == '__main__':
    sys.exit(main())
