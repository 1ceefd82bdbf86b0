// Drives the web build in Debian's headless Chromium (SwiftShader draws
// WebGL without a GPU) for the web tests. It serves the site itself, on
// 127.0.0.1 at a free port, with the music the test gives as lomu_hmm.mp3.
//
//   node browser.mjs SITE stills OUT_DIR WxH MS...   still pictures, OUT_DIR/MS.png
//   node browser.mjs SITE play MUSIC|-                plays (- : no music); prints a report
//   node browser.mjs SITE page QUERY MUSIC|-          opens index.html?QUERY and plays if it can
//   node browser.mjs SITE frametime WxH MUSIC         plays at WxH
//   node browser.mjs SITE steer MUSIC                 pauses, seeks, steps, opens a link; prints what it saw
// A report is one NAME=VALUE a line: what the page said, whether it still
// plays, console errors, and the frames' positions and times.
import { chromium } from 'playwright-core';
import { createServer } from 'node:http';
import { readFile, writeFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';

const BROWSER = process.env.VANTROP_CHROMIUM || '/usr/lib/chromium/chromium-headless-shell';
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
                '.mp3': 'audio/mpeg', '.txt': 'text/plain', '.wav': 'audio/wav' };
const STILL_TIMEOUT_MS = 60000;
const PLAY_TIMEOUT_MS = 120000;

const [site, command, ...rest] = process.argv.slice(2);
if (!site || !command) {
    console.error('usage: node browser.mjs SITE stills|play|page|frametime|steer ...');
    process.exit(2);
}

// Downloads that fail part-way: the connection dropped after a little of
// what was announced, and a file larger than the page takes.
const BROKEN_DOWNLOADS = { 'broken.mp3': 1000000, 'huge.mp3': 3 * 1024 * 1024 * 1024 };

// The site's files, and the test's music (or none) as lomu_hmm.mp3.
function serve(musicPath, extra) {
    const server = createServer(async (request, response) => {
        const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)).replace(/^\/+/, '');
        if (BROKEN_DOWNLOADS[path]) {
            response.writeHead(200, { 'Content-Type': 'audio/mpeg', 'Content-Length': BROKEN_DOWNLOADS[path] });
            response.write(Buffer.from([0x49, 0x44, 0x33, ...new Array(997).fill(0)]));
            setTimeout(() => response.destroy(), 200);
            return;
        }
        let file = join(site, path || 'index.html');
        if (path === 'lomu_hmm.mp3') file = musicPath;
        if (extra && extra[path]) file = extra[path];
        try {
            if (!file || path.includes('..')) throw new Error('not served');
            const body = await readFile(file);
            response.writeHead(200, { 'Content-Type': TYPES[extname(file)] || 'application/octet-stream' });
            response.end(body);
        } catch (e) {
            response.writeHead(404, { 'Content-Type': 'text/plain' });
            response.end('not found');
        }
    });
    return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function launch() {
    return chromium.launch({
        executablePath: BROWSER,
        args: ['--no-sandbox', '--enable-unsafe-swiftshader', '--use-angle=swiftshader', '--hide-scrollbars',
               '--autoplay-policy=no-user-gesture-required', '--mute-audio'],
    });
}

// Console errors and uncaught exceptions on a page: none are expected.
function watchErrors(page) {
    const errors = [];
    page.on('console', (message) => {
        if (message.type() === 'error') errors.push(message.text());
    });
    page.on('pageerror', (error) => errors.push('uncaught: ' + String(error)));
    return errors;
}

async function stills(base, outDir, size, positions) {
    const [width, height] = size.split('x').map(Number);
    const browser = await launch();
    const page = await browser.newPage({ viewport: { width, height }, deviceScaleFactor: 1 });
    const errors = watchErrors(page);
    // The first through the page's address, the rest drawn in the same page.
    await page.goto(`${base}/index.html?ms=${positions[0]}&size=${size}&still`);
    await page.waitForFunction(() => / (ready|failed)$/.test(document.title), null, { timeout: STILL_TIMEOUT_MS });
    if (!(await page.title()).endsWith('ready')) throw new Error(`${positions[0]} ms: ${await page.textContent('#panel')}`);
    for (const [i, ms] of positions.entries()) {
        if (i > 0 && !(await page.evaluate((at) => window.vantropStillAt(at), ms)))
            throw new Error(`${ms} ms: ${await page.textContent('#panel')}`);
        await page.screenshot({ path: join(outDir, `${ms}.png`), clip: { x: 0, y: 0, width, height } });
    }
    await browser.close();
    if (errors.length) throw new Error('console errors: ' + errors.join('\n'));
}

// Starts the show with a key, as a viewer does, and waits for its end.
async function play(base, query, size) {
    const browser = await launch();
    const viewport = size ? { width: size[0], height: size[1] } : { width: 320, height: 180 };
    const page = await browser.newPage({ viewport, deviceScaleFactor: 1 });
    const errors = watchErrors(page);
    await page.goto(`${base}/index.html${query}`);
    await page.waitForFunction(() => /start|no music|not a sound file|could not|bad size|bad position|bad value|unknown parameter|given twice|past the end|broke off|ended early|more than|do not build/.test(
        document.getElementById('message').textContent), null, { timeout: STILL_TIMEOUT_MS });
    const prompt = await page.textContent('#message');
    const detail = await page.textContent('#detail');
    if (!prompt.includes('start')) {
        await browser.close();
        return { prompt, detail, errors };
    }
    const startedAt = Date.now();
    await page.keyboard.press('Space');
    await page.waitForFunction(() => window.vantropTrace && window.vantropTrace.ended, null,
                               { timeout: PLAY_TIMEOUT_MS });
    const trace = await page.evaluate(() => window.vantropTrace);
    const report = { prompt, detail, wallMs: Date.now() - startedAt, message: await page.textContent('#message'),
                     playing: await page.evaluate(() => document.body.classList.contains('playing')),
                     cursor: await page.evaluate(() => getComputedStyle(document.body).cursor), trace, errors };
    await browser.close();
    return report;
}

// The player steered as a viewer does: Space, a click on the seek bar's
// middle, beat and bar steps, idle controls; then a link to a moment opened
// on a touch screen, its seek bar tapped a quarter along, its link copied.
async function steer(base) {
    const browser = await launch();
    const page = await browser.newPage({ viewport: { width: 640, height: 360 }, deviceScaleFactor: 1 });
    const errors = watchErrors(page);
    const seen = {};
    const state = () => page.evaluate(() => ({ ...window.vantropPlayer, source: undefined,
                                               frames: window.vantropTrace ? window.vantropTrace.shown.length : 0,
                                               controls: document.body.classList.contains('controls') }));
    await page.goto(`${base}/index.html`);
    await page.waitForFunction(() => /start/.test(document.getElementById('message').textContent), null,
                               { timeout: STILL_TIMEOUT_MS });
    await page.keyboard.press('KeyA');
    await page.waitForFunction(() => window.vantropPlayer.shownMs > 1000, null, { timeout: PLAY_TIMEOUT_MS });
    await page.keyboard.press('Space');
    const paused = await state();
    await page.waitForTimeout(700);
    const later = await state();
    Object.assign(seen, { pausedMs: paused.positionMs, heldMs: later.positionMs, paused: later.paused,
                          framesWhilePaused: later.frames - paused.frames });
    seen.lengthMs = await page.evaluate(() => lengthMs());
    const bar = await page.locator('#seek').boundingBox();
    await page.mouse.click(bar.x + bar.width / 2, bar.y + bar.height / 2);
    seen.middleMs = (await state()).positionMs;
    for (const [name, key] of [['beatAheadMs', 'ArrowRight'], ['barAheadMs', 'Shift+ArrowRight'],
                               ['beatBackMs', 'ArrowLeft']]) {
        await page.keyboard.press(key);
        seen[name] = (await state()).positionMs;
    }
    await page.keyboard.press('Space');
    await page.waitForTimeout(500);
    seen.playingMs = (await state()).shownMs;
    await page.waitForTimeout(2600);
    seen.controlsWhenIdle = (await state()).controls;
    await page.mouse.move(10, 10);
    seen.controlsOnMove = (await state()).controls;
    await page.close();

    const touch = await browser.newPage({ viewport: { width: 640, height: 480 }, deviceScaleFactor: 1,
                                          hasTouch: true });
    errors.push(...watchErrors(touch));
    await touch.goto(`${base}/index.html?ms=3000`);
    await touch.waitForFunction(() => /paused at/.test(document.getElementById('message').textContent), null,
                                { timeout: STILL_TIMEOUT_MS });
    Object.assign(seen, await touch.evaluate(() => ({
        linkMessage: document.getElementById('message').textContent, linkMs: window.vantropPlayer.positionMs,
        linkTop: getComputedStyle(document.getElementById('show')).top,
        linkControls: document.body.classList.contains('controls') })));
    const box = await touch.locator('#seek').boundingBox();
    await touch.touchscreen.tap(box.x + box.width / 4, box.y + box.height / 2);
    seen.quarterMs = await touch.evaluate(() => window.vantropPlayer.positionMs);
    await touch.click('#link');
    await touch.waitForFunction(() => /ms=/.test(document.getElementById('linked').textContent), null,
                                { timeout: STILL_TIMEOUT_MS });
    seen.copied = await touch.textContent('#linked');
    await browser.close();
    return Object.entries(seen).map(([name, value]) => `${name}=${value}`).concat(
        [`errors=${errors.length}`, ...errors.map((e) => `error=${e.replace(/\n/g, ' ')}`)]).join('\n');
}

// The report's lines, from what play() saw.
function report(seen) {
    const lines = [`prompt=${seen.prompt}`, `detail=${seen.detail}`, `errors=${seen.errors.length}`];
    for (const error of seen.errors) lines.push(`error=${error.replace(/\n/g, ' ')}`);
    if (!seen.trace) return lines.join('\n');
    const { shown, times } = seen.trace;
    let backwards = 0, largestStepMs = 0;
    for (let i = 1; i < shown.length; ++i) {
        if (shown[i] < shown[i - 1]) ++backwards;
        if (shown[i - 1] > 0) largestStepMs = Math.max(largestStepMs, shown[i] - shown[i - 1]);
    }
    const moving = shown.findIndex((ms) => ms > 0);
    const end = shown.length - 1;
    const rate = moving >= 0 && end > moving ? (shown[end] - shown[moving]) / (times[end] - times[moving]) : 0;
    const intervals = times.slice(moving + 1).map((t, i) => t - times[moving + i]).sort((a, b) => a - b);
    lines.push(`message=${seen.message}`, `ended=${seen.trace.ended}`, `playing=${seen.playing}`,
               `cursor=${seen.cursor}`, `frames=${shown.length}`, `lastMs=${shown[end]}`,
               `lengthMs=${seen.trace.lengthMs}`, `backwards=${backwards}`, `largestStepMs=${largestStepMs}`,
               `rate=${rate.toFixed(4)}`, `medianFrameMs=${intervals[intervals.length >> 1] || 0}`,
               `meanFrameMs=${end > moving ? ((times[end] - times[moving]) / (end - moving)).toFixed(1) : 0}`,
               `wallMs=${seen.wallMs}`);
    return lines.join('\n');
}

const music = (name) => (name === '-' ? null : name);
const server = await serve(command === 'stills' ? null : music(rest[command === 'page' ? 1 : rest.length - 1]),
                           { 'notes.txt': process.env.VANTROP_NOT_MP3, 'song.wav': process.env.VANTROP_WAV });
const base = `http://127.0.0.1:${server.address().port}`;
try {
    if (command === 'stills') {
        await stills(base, rest[0], rest[1], rest.slice(2));
    } else if (command === 'play') {
        console.log(report(await play(base, '')));
    } else if (command === 'page') {
        console.log(report(await play(base, '?' + rest[0])));
    } else if (command === 'steer') {
        console.log(await steer(base));
    } else if (command === 'frametime') {
        const size = rest[0].split('x').map(Number);
        console.log(report(await play(base, `?size=${rest[0]}`, size)));
    } else {
        throw new Error(`unknown command ${command}`);
    }
} catch (e) {
    console.error(`browser.mjs: ${e.message || e}`);
    process.exitCode = 1;
} finally {
    server.close();
}
