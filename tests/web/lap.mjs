// The recorded lap's frame as the web measurements take it (measure.mjs,
// compare.mjs; profile.mjs plays the lap alike): the wall-clock time at the
// end of every frame of the lap, in runs of 16 frames, and the median run's
// time per frame.
export const RUN = 16;

export const median = values => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// The page's query that plays the key script, then holds Escape for one frame
// to end the game, drawing nothing but the frames.
export const lapQuery = keys => '?' + new URLSearchParams({keys: keys + '\n1 esc\n', bench: '1'});

// From the frame ends of one lap (ms): the median run's and the mean frame, in µs.
export function lapFigure(times, frames) {
  if (times.length !== frames) throw new Error(`${times.length} frames, want ${frames}`);
  const runs = [];
  for (let k = RUN; k < times.length; k += RUN) runs.push((times[k] - times[k - RUN]) / RUN);
  return {median: median(runs) * 1000, mean: ((times[times.length - 1] - times[0]) / (times.length - 1)) * 1000};
}

// Waits in a page opened with lapQuery for `laps` games of the lap in a row
// (each next one started by "Play again") and gives each lap's figure.
export async function playedLaps(page, frames, laps) {
  const figures = [];
  for (let g = 1; g <= laps; g++) {
    await page.waitForFunction(g => window.polydrive.state === 'over' && window.polydrive.games === g,
                               {polling: 20, timeout: 120000}, g);
    // The lap's frames; then Escape, held for one more frame, ends the game.
    const all = await page.evaluate(() => window.polydrive.frameTimes);
    figures.push(lapFigure(all.slice((g - 1) * (frames + 1), (g - 1) * (frames + 1) + frames), frames));
    if (g < laps) await page.click('#again');
  }
  return figures;
}
