// The reference U-Net in ONNX Runtime (the unet.onnx torch_unet.py wrote),
// served over stdin/stdout for compare.py.
//
//   node ort_unet.js ORT_FOLDER FOLDER THREADS
//
// ORT_FOLDER is where `npm install onnxruntime-node --ignore-scripts` ran
// (its node_modules holds the CPU library).
'use strict';
const fs = require('fs');
const path = require('path');
const readline = require('readline');

async function main() {
  const [ortFolder, folder, threadText] = process.argv.slice(2);
  const ort = require(path.join(path.resolve(ortFolder), 'node_modules', 'onnxruntime-node'));
  const threads = Number(threadText);
  const session = await ort.InferenceSession.create(path.join(folder, 'unet.onnx'), {
    executionProviders: ['cpu'],
    intraOpNumThreads: threads,
    interOpNumThreads: 1,
    executionMode: 'sequential',
    graphOptimizationLevel: 'all',
  });
  // "input VALUE N C H W" in the network's walk.
  const walk = fs.readFileSync(path.join(folder, 'network.txt'), 'utf8').split('\n');
  const shape = walk.find((line) => line.startsWith('input ')).trim().split(/\s+/).slice(2).map(Number);
  const bytes = fs.readFileSync(path.join(folder, 'input_nchw.f32'));
  const data = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
  const feeds = {[session.inputNames[0]]: new ort.Tensor('float32', data, shape)};
  let output = null;
  const run = async () => {
    const result = await session.run(feeds);
    output = result[session.outputNames[0]].data;
  };
  await run();
  console.log(`ready ${threads}`);
  const lines = readline.createInterface({input: process.stdin});
  for await (const line of lines) {
    const words = line.trim().split(/\s+/);
    if (words[0] === '' || words[0] === 'quit') break;
    if (words[0] === 'run') {
      const cpu0 = process.cpuUsage();
      const t0 = process.hrtime.bigint();
      await run();
      const ms = Number(process.hrtime.bigint() - t0) / 1e6;
      const cpu = process.cpuUsage(cpu0);
      console.log(`ms ${ms.toFixed(3)} cpu ${((cpu.user + cpu.system) / 1e3).toFixed(3)}`);
    } else if (words[0] === 'save') {
      fs.writeFileSync(words[1], Buffer.from(output.buffer, output.byteOffset, output.byteLength));
      console.log('saved');
    }
  }
  lines.close();
}

main().catch((error) => {
  console.error(`ort_unet: ${error.message}`);
  process.exit(1);
});
