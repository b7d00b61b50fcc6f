// Times JavaScript's RegExp (flags "gu") running the replacer's loop, for
// bench_replacer. Input file: lines "E <hex>" (expressions) and "P <hex>" (pages),
// UTF-8 in hex. Output: for every expression, for every page,
// "T <processor seconds per apply> <result count>".
'use strict';
const fs = require('fs');

// The expression grammar and the format expansion are the differential test's.
const { expand, parse } = require('../tests/extract/replacer_node.js');

function compile(expression) {
  const { regex, format } = parse(expression);
  return { regex: new RegExp(regex, 'gu'), format };
}

// As the reader does: the expression is compiled once, applied per page.
function apply(compiled, page) {
  const text = page.replace(/[\r\n]/g, ' ');
  const re = compiled.regex;
  re.lastIndex = 0;
  const out = [];
  let m;
  while ((m = re.exec(text)) !== null) {
    out.push(expand(compiled.format, m, text));
    if (m[0].length === 0) {
      const cp = text.codePointAt(re.lastIndex);
      re.lastIndex += cp !== undefined && cp > 0xffff ? 2 : 1;
    }
  }
  return out;
}

const hexToText = (hex) => Buffer.from(hex, 'hex').toString('utf8');
const expressions = [], pages = [];
for (const line of fs.readFileSync(process.argv[2], 'latin1').split('\n')) {
  if (line.startsWith('E ')) expressions.push(hexToText(line.slice(2)));
  if (line.startsWith('P ')) pages.push(hexToText(line.slice(2)));
}
const minSeconds = Number(process.argv[3] || '0.3');
const out = [];
for (const expression of expressions) {
  const compiled = compile(expression);
  for (const page of pages) {
    let count = apply(compiled, page).length;  // warm-up
    // Processor time of the whole process (the machine may be shared).
    let runs = 0;
    const start = process.cpuUsage();
    let elapsed = 0;
    do {
      count = apply(compiled, page).length;
      ++runs;
      const used = process.cpuUsage(start);
      elapsed = (used.user + used.system) / 1e6;
    } while (elapsed < minSeconds || runs < 3);
    out.push('T ' + (elapsed / runs) + ' ' + count);
  }
}
process.stdout.write(out.join('\n') + '\n');
