// The control from JavaScript (gjs) through its typelib: created, its
// defaults read, its properties saved, and an empty application record made.
// Exits non-zero on the first difference.

imports.gi.versions.CorvaneClient = '1.0';
const {CorvaneClient} = imports.gi;

function expect(what, actual, expected) {
    if (actual !== expected) {
        printerr(`${what}: expected ${expected}, got ${actual}`);
        imports.system.exit(1);
    }
}

const ctrl = new CorvaneClient.Ctrl();
expect('group-address', ctrl.group_address, '228.11.11.11');
expect('server-port', ctrl.server_port, 45500);
expect('using-hailing-server', ctrl.using_hailing_server, true);
expect('started', ctrl.started, false);

ctrl.file_port = 46001;
const [data] = ctrl.save_to_data();
expect('saved file port', data.includes('FilePort=46001'), true);
const copy = new CorvaneClient.Ctrl();
copy.load_from_data(data, -1);
expect('loaded file port', copy.file_port, 46001);

expect('applications', ctrl.get_applications().length, 0);
expect('empty application version', new CorvaneClient.Application().version, 1);
print('1 passed, 0 failed');
