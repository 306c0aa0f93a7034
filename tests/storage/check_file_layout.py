"""Checks the byte layout of files written by FileLayoutWriter with olefile,
a compound-file reader that shares no code with ours."""
import hashlib
import struct
import sys

import olefile


def read(ole, path):
    return ole.openstream(path).read()


def string(value):
    return struct.pack('<i', len(value)) + value


def check_db(path):
    ole = olefile.OleFileIO(path)
    assert sorted('/'.join(e) for e in ole.listdir(streams=True, storages=True)) == ['1', '2', 'userids'], \
        ole.listdir(streams=True, storages=True)
    assert ole.get_type('1') == olefile.STGTY_STORAGE
    data = read(ole, 'userids')
    last, count = struct.unpack_from('<ii', data)
    assert (last, count) == (2, 2), (last, count)
    entries, offset = {}, 8
    for _ in range(count):
        (length,) = struct.unpack_from('<i', data, offset)
        name = data[offset + 4:offset + 4 + length]
        (number,) = struct.unpack_from('<i', data, offset + 4 + length)
        entries[name] = number
        offset += 8 + length
    assert offset == len(data)
    assert entries == {b'amy@x.org': 1, b'bob@x.org': 2}, entries


def check_logs(path):
    ole = olefile.OleFileIO(path)
    assert read(ole, 'userids') == struct.pack('<ii', 1, 1) + string(b'amy@x.org') + struct.pack('<i', 1)
    expected_index = (struct.pack('<iii', 2, 0, 1) + struct.pack('<dd', 45000.5, 45000.75)
                      + string(b'bob@x.org') + struct.pack('<i', 1))
    assert read(ole, '1/conversations') == expected_index, read(ole, '1/conversations')
    expected_content = (struct.pack('<i', 1) + string(b'{\\rtf1 hi }') + struct.pack('<ii', 1, 3) + string(b'13'))
    assert read(ole, '1/1') == expected_content, read(ole, '1/1')


def check_objcache(path):
    ole = olefile.OleFileIO(path)
    names = sorted('/'.join(e) for e in ole.listdir(streams=True, storages=True))
    assert names == ['0', '0/CONTENTS', '2', '2/CONTENTS', 'md5map'], names
    assert read(ole, '0/CONTENTS') == b'smile' and read(ole, '2/CONTENTS') == b'wink'
    smile = hashlib.md5(b'smile').hexdigest().encode()
    wink = hashlib.md5(b'wink').hexdigest().encode()
    expected = struct.pack('<i', 2) + string(smile) + string(b'0') + string(wink) + string(b'2')
    assert read(ole, 'md5map') == expected, read(ole, 'md5map')
    assert ole.getclsid('0') == '6B1F3C2A-8D4E-4F5A-9B7C-1E2D3F4A5B6C', ole.getclsid('0')


def main(folder):
    check_db(folder + '/db.dat')
    check_logs(folder + '/logs.dat')
    check_objcache(folder + '/objcache.dat')
    print('file layouts as expected')


if __name__ == '__main__':
    main(sys.argv[1])
