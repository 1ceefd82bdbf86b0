// The page around the show: its address's parameters, the canvas's size,
// the music (Web Audio), the published show's data, and what to say when
// something is missing or wrong. Drawing and the clock are the native
// show's own, in the module (vantrop.js); playing is player.js's.
'use strict';

const query = new URLSearchParams(location.search);
const STILL = query.has('still');
const PREVIEW_AUTO = query.get('preview') === 'auto';
// Opened at a moment (a link): paused there, not playing.
const LINKED = query.has('ms') && !STILL;
// The parameters the page takes, and what each takes.
const PARAMETERS = 'ms=MILLISECONDS (whole, from 0), size=WIDTHxHEIGHT (16:9), still, preview=auto, music=URL';
// What a published show (vantrop-render site) holds beside the page, as its index.html says.
const SHOW_DATA = (document.querySelector('meta[name="vantrop-show"]') || { content: '' }).content.split(/\s+/);
const MUSIC_NAME = (SHOW_DATA.find((word) => word.startsWith('music=')) || 'music=lomu_hmm.mp3').slice(6);
// The largest shader file the page reads, bytes (the native programs' limit).
const MAX_SHADER_BYTES = 256 * 1024;
const DROP_A_FILE = 'drop a sound file (MP3, WAV, FLAC, Ogg, Opus) on this page';
const ASPECT_W = 16, ASPECT_H = 9;
// The latest position the timeline takes, milliseconds (as the native programs: a signed 32-bit count).
const MAX_POSITION_MS = 2147483647;
// The largest music file the page downloads, bytes (an hour of MP3 at 320 kbit/s is 144 MB).
const MAX_MUSIC_BYTES = 256 * 1024 * 1024;

const canvas = document.getElementById('show');
const panel = document.getElementById('panel');
const message = document.getElementById('message');
const detail = document.getElementById('detail');

let vantrop = null;      // the module, once loaded
let audio = null;        // AudioContext
let track = null;        // the decoded music: an AudioBuffer
let trackName = '';
let drawn = { width: 0, height: 0 };
let previewScale = 1;
let lastFrameAt = null;  // performance.now() of the last animation frame

function say(text, more, isError) {
    message.textContent = text;
    detail.textContent = more || '';
    panel.hidden = false;
    panel.classList.toggle('error', !!isError);
}

function quiet() {
    panel.hidden = true;
}

function fail(text, more) {
    say(text, more, true);
    if (STILL) document.title = 'vantrop: failed';
}

// WIDTHxHEIGHT of a size the show draws (the native programs' rule, in the module), or null.
function parseSize(text) {
    const match = /^(\d+)x(\d+)$/.exec(text || '');
    if (!match || match[1].length > 9 || match[2].length > 9) return null;
    const width = Number(match[1]), height = Number(match[2]);
    return vantrop._vantropIsShowSize(width, height) ? { width, height } : null;
}

// The canvas's place (CSS pixels): the largest 16:9 box in the window,
// centred, or the asked size; and the pixels it draws.
function layOut() {
    const asked = parseSize(query.get('size'));
    let cssWidth, cssHeight, width, height;
    if (asked && STILL) {
        cssWidth = width = asked.width;
        cssHeight = height = asked.height;
    } else {
        cssWidth = vantrop._vantropBoxWidth(innerWidth, innerHeight);
        cssHeight = cssWidth * ASPECT_H / ASPECT_W;
        if (asked) {
            width = asked.width;
            height = asked.height;
        } else {
            width = vantrop._vantropDrawnWidth(Math.round(cssWidth * (devicePixelRatio || 1)), 1);
            height = width * ASPECT_H / ASPECT_W;
        }
    }
    canvas.style.width = cssWidth + 'px';
    canvas.style.height = cssHeight + 'px';
    if (!STILL) {
        canvas.style.left = (innerWidth - cssWidth) / 2 + 'px';
        canvas.style.top = (innerHeight - cssHeight) / 2 + 'px';
    }
    return { width, height };
}

// Builds the show's programs for `size` (all of them before playing, or only
// the one of the frame at ms); false when the browser cannot.
function setUp(size, ms, everyProgram) {
    const width = vantrop._vantropDrawnWidth(size.width, previewScale);
    const height = width * ASPECT_H / ASPECT_W;
    canvas.width = width;
    canvas.height = height;
    if (vantrop._vantropSetUp(width, height, ms, everyProgram ? 1 : 0, STILL ? 1 : 0) !== 0) {
        const why = vantrop.UTF8ToString(vantrop._vantropError());
        const newline = why.indexOf('\n');
        fail(newline < 0 ? why : why.slice(0, newline), newline < 0 ? '' : why.slice(newline + 1));
        return false;
    }
    drawn = { width, height };
    return true;
}

// ?ms as whole milliseconds from 0 to MAX_POSITION_MS (0 when not given), or null.
function parsePosition(text) {
    if (text === null) return 0;
    if (!/^\d+$/.test(text)) return null;
    const ms = Number(text);
    return ms <= MAX_POSITION_MS ? ms : null;
}

// Returns once the browser has drawn what it was given (a software
// renderer takes seconds): reading a pixel back waits for it.
function finishDrawing() {
    const gl = canvas.getContext('webgl');
    if (gl) gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
}

async function drawStill() {
    const ms = parsePosition(query.get('ms'));
    document.body.classList.add('still');
    if (!setUp(layOut(), ms, false)) return;
    vantrop._vantropDraw(ms);
    finishDrawing();
    // Shown with the next frame: only then is the picture on the page.
    requestAnimationFrame(() => requestAnimationFrame(() => { document.title = `vantrop ${ms} ms ready`; }));
}

// Another still picture from the same page, at ms, for tools that take many
// (the tests do): the programs of every section are built on the first call,
// as for playing, so the browser compiles each once rather than once a
// picture. Resolves true once the picture is shown, false when it failed (said).
let stillsBuilt = false;
window.vantropStillAt = (ms) => new Promise((shown) => {
    if (!stillsBuilt && !setUp(layOut(), ms, true)) return shown(false);
    stillsBuilt = true;
    vantrop._vantropDraw(ms);
    finishDrawing();
    requestAnimationFrame(() => requestAnimationFrame(() => shown(true)));
});

function ensureAudio() {
    if (!audio) audio = new AudioContext({ latencyHint: 'playback' });
    return audio;
}

// Whatever sound file the browser decodes plays: MP3, WAV, FLAC, Ogg Vorbis, Opus.
async function takeMusic(bytes, name) {
    try {
        track = await ensureAudio().decodeAudioData(bytes);
    } catch (e) {
        fail(`${name} is not a sound file this browser decodes (${e.message || e})`,
             `${DROP_A_FILE}, or give another with ?music=URL`);
        return;
    }
    trackName = name;
    const ms = parsePosition(query.get('ms'));
    if (ms > lengthMs()) {
        fail(`?ms=${ms} is past the end of the music`,
             `give a moment from 0 to ${lengthMs()} ms: ${name} is ${clockText(lengthMs())} long`);
        return;
    }
    if (LINKED) openAt(ms);
    else prompt();
}

// A download that failed: said, and a click (or a key) on the page tries it again.
let retryDownload = null;

function downloadFailed(text) {
    fail(text, `click to try again; or ${DROP_A_FILE}, or give another with ?music=URL`);
    retryDownload = () => {
        retryDownload = null;
        say('loading the music…', '', false);
        loadMusic();
    };
}

async function loadMusic() {
    const url = query.get('music') || MUSIC_NAME;
    let response;
    try {
        response = await fetch(url);
    } catch (e) {
        response = null;
    }
    if (!response || !response.ok) {
        const status = response ? ` (the server said ${response.status})` : '';
        fail(`no music: ${url} could not be loaded${status}`,
             `put ${MUSIC_NAME} beside index.html, give another with ?music=URL, or ${DROP_A_FILE}`);
        return;
    }
    const announced = Number(response.headers.get('Content-Length'));
    if (announced > MAX_MUSIC_BYTES) {
        response.body && response.body.cancel();
        fail(`${url} is ${Math.round(announced / 1048576)} MB, more than the ${MAX_MUSIC_BYTES / 1048576} MB ` +
             'the page takes', 'give a smaller sound file with ?music=URL, or drop one on this page');
        return;
    }
    let bytes;
    try {
        bytes = await response.arrayBuffer();
    } catch (e) {
        downloadFailed(`the music download from ${url} broke off (${e.message || e})`);
        return;
    }
    // A compressed answer announces the length of what was sent, not of the file.
    if (announced > 0 && !response.headers.get('Content-Encoding') && bytes.byteLength !== announced) {
        downloadFailed(`the music download from ${url} ended early (${bytes.byteLength} of ${announced} bytes)`);
        return;
    }
    await takeMusic(bytes, url);
}

function listenForDrops() {
    addEventListener('dragover', (event) => event.preventDefault());
    addEventListener('drop', async (event) => {
        event.preventDefault();
        const file = event.dataTransfer.files[0];
        if (!file || player.started) return;
        let bytes;
        try {
            bytes = await file.arrayBuffer();
        } catch (e) {
            // A dropped folder, or a file that went away or cannot be read.
            fail(`${file.name} could not be read (${e.message || e})`, DROP_A_FILE);
            return;
        }
        await takeMusic(bytes, file.name);
    });
}

// What is wrong with the page's address, said as [message, detail], or null:
// a parameter the page does not take, given twice, or a value it cannot use.
function addressFault() {
    const seen = new Set();
    for (const [name, value] of query) {
        if (!['ms', 'size', 'still', 'preview', 'music'].includes(name))
            return [`unknown parameter ?${name}`, `the page takes ${PARAMETERS}`];
        if (seen.has(name)) return [`?${name} is given twice`, 'give it once'];
        seen.add(name);
        if ((name === 'still' && value !== '') || (name === 'preview' && value !== 'auto'))
            return [`bad value ?${name}=${value}`, `the page takes ${PARAMETERS}`];
    }
    if (query.has('size') && !parseSize(query.get('size')))
        return [`bad size '${query.get('size')}'`, 'the show is framed for 16:9, from 16x9 to 7680x4320 (for ' +
                'example 320x180, 1280x720, 1920x1080)'];
    if (parsePosition(query.get('ms')) === null)
        return [`bad position ?ms=${query.get('ms')}`, `give whole milliseconds from 0 to ${MAX_POSITION_MS}`];
    return null;
}

async function fetchText(name) {
    const response = await fetch(name);
    if (!response.ok) throw new Error(`the server said ${response.status}`);
    const text = await response.text();
    if (text.length > MAX_SHADER_BYTES) throw new Error(`it is larger than ${MAX_SHADER_BYTES / 1024} KiB`);
    return text;
}

// A published show's data: its readable shaders, packed in the module as the
// native programs pack them, and its schedule and tracks; false (said) when
// they cannot be read or are not sound.
async function loadShow() {
    if (!SHOW_DATA.includes('shaders')) return true;
    let name = '';
    try {
        for (let i = 0; (name = vantrop.UTF8ToString(vantrop._vantropShaderFile(i))); ++i)
            vantrop.ccall('vantropSetShaderText', null, ['number', 'string'], [i, await fetchText(name)]);
        name = 'schedule.txt';
        const schedule = SHOW_DATA.includes('schedule') ? await fetchText(name) : '';
        name = 'tracks.txt';
        const tracks = SHOW_DATA.includes('tracks') ? await fetchText(name) : '';
        if (vantrop.ccall('vantropUseShow', 'number', ['string', 'string'], [schedule, tracks]) === 0) return true;
        fail(vantrop.UTF8ToString(vantrop._vantropError()), 'publish the show again with vantrop-render site');
    } catch (e) {
        fail(`${name} of the published show could not be read (${e.message || e})`,
             'serve the whole folder that vantrop-render site wrote');
    }
    return false;
}

async function main() {
    if (typeof createVantrop !== 'function') {
        fail('the show\'s module (vantrop.js) did not load', 'serve the whole site folder, index.html with ' +
             'vantrop.js and vantrop.wasm beside it, from a web server');
        return;
    }
    try {
        vantrop = await createVantrop({ printErr: (text) => console.warn(text) });
    } catch (e) {
        fail('the show\'s module could not start: ' + (e.message || e),
             'serve vantrop.wasm beside index.html, as application/wasm; this browser needs WebAssembly');
        return;
    }
    const fault = addressFault();
    if (fault) {
        fail(...fault);
        return;
    }
    if (!await loadShow()) return;
    if (STILL) {
        await drawStill();
        return;
    }
    const ms = parsePosition(query.get('ms'));
    if (!setUp(layOut(), ms, false)) return;
    vantrop._vantropDraw(ms);
    say('loading the music…', '', false);
    listen();
    listenForDrops();
    await loadMusic();
}

main();
