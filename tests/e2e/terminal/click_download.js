// Headless Chromium: opens URL, clicks "Download file", saves the download. usage: node click_download.js URL SAVE_AS PROFILE_DIR
const { chromium } = require('playwright-core');

(async () => {
  const [url, saveAs, profile] = process.argv.slice(2);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, acceptDownloads: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run'],
  });
  const page = await context.newPage();
  await page.goto(url, { timeout: 30000 });
  const [download] = await Promise.all([
    page.waitForEvent('download', { timeout: 30000 }),
    page.getByText('Download file', { exact: true }).click(),
  ]);
  await download.saveAs(saveAs);
  console.log(JSON.stringify({ title: await page.title(), suggested: download.suggestedFilename() }));
  await context.close();
})().catch((e) => { console.error(e); process.exit(1); });
