// A second, independent TLS SMTP server for the tests, on the smtp-server
// package: MODE "implicit" speaks TLS from the first byte, "starttls"
// offers STARTTLS and requires it before AUTH. Logins: LOGIN and PLAIN with
// USER and PASSWORD, XOAUTH2 with USER and the token PASSWORD (another token
// is refused with the mechanism's JSON error, then 535). Accepted messages
// are stored byte for byte in DIR/Maildir/new; every command verb goes to
// DIR/commands.txt.
// Usage: node tls_smtpd.js HOST PORT DIR CERT KEY MODE USER PASSWORD
'use strict';
const fs = require('fs');
const path = require('path');
const { SMTPServer } = require('smtp-server');

const [host, port, root, cert, key, mode, user, password] = process.argv.slice(2);
fs.mkdirSync(path.join(root, 'Maildir', 'new'), { recursive: true });
const note = verb => fs.appendFileSync(path.join(root, 'commands.txt'), verb + '\n');

const server = new SMTPServer({
  secure: mode === 'implicit',
  key: fs.readFileSync(key),
  cert: fs.readFileSync(cert),
  authMethods: ['LOGIN', 'PLAIN', 'XOAUTH2'],
  allowInsecureAuth: false,
  logger: false,
  onAuth(auth, session, cb) {
    note('AUTH');
    const secret = auth.method === 'XOAUTH2' ? auth.accessToken : auth.password;
    if (auth.username === user && secret === password) return cb(null, { user });
    if (auth.method === 'XOAUTH2') return cb(null, { data: { status: 'invalid_token' } });
    return cb(new Error('Invalid username or password'));
  },
  onMailFrom(address, session, cb) { note('MAIL'); cb(); },
  onData(stream, session, cb) {
    const chunks = [];
    stream.on('data', c => chunks.push(c));
    stream.on('end', () => {
      const name = path.join(root, 'Maildir', 'new', `${process.hrtime.bigint()}.${process.pid}`);
      fs.writeFileSync(name + '.tmp', Buffer.concat(chunks));
      fs.renameSync(name + '.tmp', name);
      cb(null, 'Message accepted');
    });
  },
});
server.on('error', e => { console.error(e.message); });
server.listen(Number(port), host, () => {
  fs.writeFileSync(path.join(root, 'ready'), String(process.pid));
});
