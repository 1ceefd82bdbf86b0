// The player: starting, pausing and seeking the show with keys, the mouse
// and touch; the controls, shown while they are used; a link to the moment
// shown. The page (page.js) loads the module, lays out the canvas, fetches
// the music and says what goes wrong; this file is loaded before it.
'use strict';

// The controls hide after this long without a move or a key, milliseconds.
const CONTROLS_IDLE_MS = 2000;
// The sound starts this long after a press (seconds of the audio context),
// so that the first buffers are not cut.
const START_DELAY_S = 0.1;

const controls = document.getElementById('controls');
const playButton = document.getElementById('play');
const seekBar = document.getElementById('seek');
const playhead = document.getElementById('playhead');
const timeLabel = document.getElementById('time');
const linkButton = document.getElementById('link');
const linkSaid = document.getElementById('linked');

// What the player is doing; also read by anyone measuring the page (the tests do).
const player = {
    started: false,      // started by a press, until it ends or is stopped
    paused: true,        // no sound; positionMs is shown
    positionMs: 0,       // the moment shown while paused, where play goes on
    shownMs: 0,          // the moment of the last frame drawn
    everyProgram: false, // every program of the show built (after a start)
    source: null,        // what plays the music
    startedAt: 0,        // context time of the sound's start
    fromMs: 0,           // the music's millisecond at that start
    run: 0,              // counts plays, so that a stopped play's frames end
    scrubbing: null,     // while the seek bar is held: { wasPlaying }
};
window.vantropPlayer = player;
let hideTimer = 0;

function lengthMs() {
    return Math.round(track.duration * 1000);
}

// m:ss.s
function clockText(ms) {
    const seconds = ms / 1000;
    return `${Math.floor(seconds / 60)}:${(seconds % 60).toFixed(1).padStart(4, '0')}`;
}

// The show's sections on the seek bar, as on the studio's strip.
function markSections() {
    for (const old of seekBar.querySelectorAll('.section')) old.remove();
    const length = lengthMs();
    for (let i = 0; vantrop.UTF8ToString(vantrop._vantropSectionName(i)); ++i) {
        const start = vantrop._vantropSectionStartMs(i);
        if (start >= length) break;
        const next = vantrop.UTF8ToString(vantrop._vantropSectionName(i + 1)) ?
            Math.min(vantrop._vantropSectionStartMs(i + 1), length) : length;
        const mark = document.createElement('div');
        mark.className = 'section';
        mark.textContent = mark.title = vantrop.UTF8ToString(vantrop._vantropSectionName(i));
        mark.style.left = `${100 * start / length}%`;
        mark.style.width = `${100 * (next - start) / length}%`;
        seekBar.insertBefore(mark, playhead);
    }
}

function showPosition(ms) {
    playhead.style.left = `${100 * Math.min(ms / lengthMs(), 1)}%`;
    timeLabel.textContent = `${clockText(ms)} / ${clockText(lengthMs())}`;
    seekBar.setAttribute('aria-valuenow', String(ms));
}

// The controls come back on a move or a key, and hide after two idle seconds while the show plays.
function showControls() {
    if (!player.started && !LINKED) return;
    document.body.classList.add('controls');
    clearTimeout(hideTimer);
    if (player.started && !player.paused)
        hideTimer = setTimeout(() => document.body.classList.remove('controls'), CONTROLS_IDLE_MS);
}

function setPaused(paused) {
    player.paused = paused;
    playButton.textContent = paused ? '▶' : '❚❚';
    playButton.title = paused ? 'play (Space)' : 'pause (Space)';
    showControls();
}

// Draws the moment ms while paused: with the programs built at the start,
// or, before it, building the one that moment needs.
function drawAt(ms) {
    if (!player.everyProgram && !setUp(layOut(), ms, false)) return;
    vantrop._vantropDraw(ms);
    player.shownMs = ms;
    showPosition(ms);
}

function silence() {
    if (!player.source) return;
    player.source.stop();
    player.source.disconnect();
    player.source = null;
}

async function play(fromMs) {
    const context = ensureAudio();
    await context.resume();
    silence();
    const run = ++player.run;
    player.source = context.createBufferSource();
    player.source.buffer = track;
    player.source.connect(context.destination);
    player.startedAt = context.currentTime + START_DELAY_S;
    player.fromMs = fromMs;
    player.source.start(player.startedAt, fromMs / 1000);
    vantrop._vantropRestartClock(fromMs);
    lastFrameAt = null;
    quiet();
    setPaused(false);
    requestAnimationFrame((now) => frame(now, run));
}

function pause() {
    if (player.paused) return;
    ++player.run;
    silence();
    player.positionMs = player.shownMs;
    setPaused(true);
    drawAt(player.positionMs);
}

function togglePause() {
    if (!player.started) start();
    else if (player.paused) play(player.positionMs);
    else pause();
}

// To the moment ms (within the music); the sound follows at once while playing.
function seek(ms) {
    ms = Math.max(0, Math.min(Math.round(ms), lengthMs()));
    if (player.started && !player.paused) {
        play(ms);
        return;
    }
    player.positionMs = ms;
    drawAt(ms);
    if (LINKED && !player.started) say(`paused at ${clockText(ms)}`, 'press Space or ▶ to play', false);
}

// A beat (or, with Shift, a bar) ahead or back, on the show's grid.
function step(event) {
    const from = player.paused ? player.positionMs : player.shownMs;
    seek(vantrop._vantropGridMs(from, event.shiftKey ? 1 : 0, event.key === 'ArrowLeft' ? 1 : 0));
}

// A link opens paused at that moment, letterboxed in the window.
function openAt(ms) {
    markSections();
    setPaused(true);
    seek(ms);
}

function prompt() {
    markSections();
    say('click or press a key to start', `${trackName}, ${Math.round(track.duration)} s`, false);
}

async function start() {
    if (retryDownload) {
        retryDownload();
        return;
    }
    if (player.started || !track) return;
    player.started = true;
    quiet();
    document.body.classList.add('playing');
    try {
        await document.documentElement.requestFullscreen({ navigationUI: 'hide' });
    } catch (e) {
        // Played in the window instead: some browsers and frames refuse full screen.
    }
    previewScale = 1;
    if (!setUp(layOut(), player.positionMs, true)) {
        // The message says why; the page goes back to its window.
        player.started = false;
        document.body.classList.remove('playing');
        if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
        return;
    }
    player.everyProgram = true;
    window.vantropTrace = { shown: [], times: [], lengthMs: track.duration * 1000, ended: false };
    await play(player.positionMs);
}

// The context time heard at a moment of performance.now(): the output
// stamp where the browser gives one, else what is played less the latency.
function heardStamp(context) {
    if (context.getOutputTimestamp) {
        const stamp = context.getOutputTimestamp();
        if (stamp.performanceTime > 0) return stamp;
    }
    const latency = context.outputLatency || context.baseLatency || 0;
    return { contextTime: context.currentTime - latency, performanceTime: performance.now() };
}

function frame(now, run) {
    if (run !== player.run || !player.started) return;
    const stamp = heardStamp(audio);
    const ms = vantrop._vantropShownMs(stamp.contextTime, stamp.performanceTime, performance.now(),
                                       player.startedAt, player.fromMs, track.sampleRate, track.length);
    vantrop._vantropDraw(ms);
    player.shownMs = ms;
    showPosition(ms);
    window.vantropTrace.shown.push(ms);
    window.vantropTrace.times.push(now);
    if (ms >= track.duration * 1000) {
        stop('the show has played');
        return;
    }
    adjustPreview(now, ms);
    requestAnimationFrame((next) => frame(next, run));
}

// ?preview=auto: a lower drawn size while frames are slow.
function adjustPreview(now, ms) {
    if (!PREVIEW_AUTO) return;
    const frameMs = lastFrameAt === null ? 0 : now - lastFrameAt;
    lastFrameAt = now;
    if (frameMs === 0) return;
    // The studio's rule, in the module: a playing show always moves.
    const next = vantrop._vantropPreviewScale(frameMs, 1);
    if (next === previewScale) return;
    previewScale = next;
    player.everyProgram = false;
    setUp(layOut(), ms, false);
}

function stop(why) {
    if (!player.started) return;
    player.started = false;
    ++player.run;
    silence();
    player.positionMs = 0;
    player.paused = true;
    clearTimeout(hideTimer);
    document.body.classList.remove('playing', 'controls');
    if (window.vantropTrace) window.vantropTrace.ended = why || 'stopped';
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    say(why || 'the show was stopped', 'click or press a key to play it again', false);
}

// The page's address at the moment shown: copied, or shown to be copied by hand.
async function copyLink() {
    const link = new URL(location.href);
    link.searchParams.delete('still');
    link.searchParams.set('ms', String(player.paused ? player.positionMs : player.shownMs));
    // Shown at once: a browser may keep its clipboard to itself, or answer late.
    linkSaid.textContent = `copy this link: ${link.href}`;
    showControls();
    try {
        await navigator.clipboard.writeText(link.href);
        linkSaid.textContent = `copied: ${link.href}`;
    } catch (e) {
        // The link is on the page to copy by hand.
    }
}

// The seek bar, held with the mouse or a finger: the picture follows while
// it is held, and the sound goes on from where it is let go.
function seekWithPointer(event) {
    const box = seekBar.getBoundingClientRect();
    seek(lengthMs() * Math.max(0, Math.min((event.clientX - box.left) / box.width, 1)));
}

function listenToSeekBar() {
    seekBar.addEventListener('pointerdown', (event) => {
        event.stopPropagation();
        seekBar.setPointerCapture(event.pointerId);
        player.scrubbing = { wasPlaying: player.started && !player.paused };
        if (player.scrubbing.wasPlaying) pause();
        seekWithPointer(event);
    });
    seekBar.addEventListener('pointermove', (event) => {
        if (player.scrubbing) seekWithPointer(event);
    });
    const letGo = () => {
        if (player.scrubbing && player.scrubbing.wasPlaying && player.started) play(player.positionMs);
        player.scrubbing = null;
    };
    seekBar.addEventListener('pointerup', letGo);
    seekBar.addEventListener('pointercancel', letGo);
    controls.addEventListener('click', (event) => event.stopPropagation());
    playButton.addEventListener('click', togglePause);
    linkButton.addEventListener('click', copyLink);
}

function steer(event) {
    if (event.key === 'Escape') stop();
    else if (event.key === ' ') togglePause();
    else if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') step(event);
    else return false;
    return true;
}

function listen() {
    addEventListener('keydown', (event) => {
        showControls();
        if (event.ctrlKey || event.metaKey || event.altKey) return;
        if (player.started || (LINKED && track && !retryDownload)) {
            if (steer(event)) event.preventDefault();
        } else if (!event.repeat && event.key !== 'Escape') {
            start();
        }
    });
    canvas.addEventListener('click', () => (player.started ? togglePause() : start()));
    panel.addEventListener('click', start);
    addEventListener('pointermove', showControls);
    document.addEventListener('fullscreenchange', () => {
        if (!document.fullscreenElement) stop();
    });
    listenToSeekBar();
}
