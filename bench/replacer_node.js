// Times JavaScript's RegExp (flags "gu") running the replacer's loop, for
// bench_replacer. Input file: lines "E <hex>" (expressions) and "P <hex>" (pages),
// UTF-8 in hex. Output: for every expression, for every page,
// "T <processor seconds per apply> <result count>".
'use strict';
const fs = require('fs');

function expand(format, m, text) {
  let out = '';
  const group = (n) => { if (n < m.length && m[n] !== undefined) out += m[n]; };
  const digit = (c) => c >= '0' && c <= '9';
  for (let i = 0; i < format.length; ++i) {
    const c = format[i];
    if (c !== '$') { out += c; continue; }
    if (i + 1 === format.length) { out += '$'; break; }
    const d = format[i + 1];
    if (d === '&') { group(0); ++i; }
    else if (d === '`') { out += text.slice(0, m.index); ++i; }
    else if (d === "'") { out += text.slice(m.index + m[0].length); ++i; }
    else if (digit(d)) {
      if (i + 2 < format.length && digit(format[i + 2])) {
        const n = Number(d) * 10 + Number(format[i + 2]);
        if (n === 0) out += '$00'; else group(n);
        i += 2;
      } else {
        if (d === '0') out += '$0'; else group(Number(d));
        ++i;
      }
    } else { out += '$' + d; ++i; }
  }
  return out;
}

function compile(expression) {
  const sep = expression[0];
  let rest = expression.slice(1);
  if (!rest.includes(sep)) rest += sep + (rest.includes('(') ? '$1' : 'here to generate a valid match');
  const end = rest.indexOf(sep);
  const remainder = rest.slice(end + 1);
  const formatEnd = remainder.indexOf(sep);
  return {
    regex: new RegExp(rest.slice(0, end), 'gu'),
    format: formatEnd < 0 ? remainder : remainder.slice(0, formatEnd),
  };
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
