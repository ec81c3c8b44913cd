#!/usr/bin/env python3
"""Writes the mRemoteNG fixtures whose passwords are sealed as mRemoteNG seals them:
AES-256-GCM, key = PBKDF2-HMAC-SHA1(master password, salt, iterations, 32 bytes),
stored as Base64(salt 16 | nonce 16 | cipher text | tag 16), the salt also
authenticated as associated data. Salts and nonces come from a hash of the text, so
that the files come out the same on every run. Needs python3-cryptography."""
import base64
import hashlib
import sys
from pathlib import Path

from cryptography.hazmat.primitives.ciphers.aead import AESGCM

ITERATIONS = 1000


def seal(text, master, label):
    derived = hashlib.sha256((label + "\0" + text + "\0" + master).encode()).digest()
    salt, nonce = derived[:16], derived[16:32]
    key = hashlib.pbkdf2_hmac("sha1", master.encode(), salt, ITERATIONS, dklen=32)
    sealed = AESGCM(key).encrypt(nonce, text.encode(), salt)  # cipher text followed by the tag
    return base64.b64encode(salt + nonce + sealed).decode()


def connection(indent, name, host, user, password, master, descr="", protocol="RDP", port="3389"):
    pw = seal(password, master, name) if password else ""
    return (f'{indent}<Node Name="{name}" Type="Connection" Descr="{descr}" Username="{user}" Domain="BJ" '
            f'Password="{pw}" Hostname="{host}" Protocol="{protocol}" Port="{port}" '
            f'Resolution="Res1280x1024" Colors="Colors24Bit" InheritUsername="false" InheritDomain="false" />\n')


def document(master, protected, body):
    return ('<?xml version="1.0" encoding="utf-8"?>\n'
            '<mrng:Connections xmlns:mrng="http://mremoteng.org" Name="Connections" Export="false" '
            f'EncryptionEngine="AES" BlockCipherMode="GCM" KdfIterations="{ITERATIONS}" FullFileEncryption="false" '
            f'Protected="{seal(protected, master, "Protected")}" ConfVersion="2.6">\n{body}</mrng:Connections>\n')


def default_master_file():
    m = "mR3m"
    body = ('    <Node Name="北京机房" Type="Container" Expanded="true" Descr="">\n'
            '        <Node Name="测试" Type="Container" Descr="">\n'
            + connection("            ", "测试机", "127.0.0.31", "tester", "Pa55-测试", m,
                         descr="数据库测试&#xA;第二行")
            + '        </Node>\n'
            '        <Node Name="测试" Type="Container" Descr="">\n'
            + connection("            ", "测试二", "127.0.0.32", "tester", "", m)
            + '        </Node>\n'
            + connection("        ", "网关", "gw.bj.test", "gwadmin", "gw-s3cret", m, descr="出口网关")
            + '    </Node>\n'
            + connection("    ", "SSH 跳板", "127.0.0.33", "root", "", m, protocol="SSH2", port="22")
            + connection("    ", "网关副本", "GW.bj.test", "gwadmin", "gw-s3cret", m))
    return document(m, "ThisIsNotProtected", body)


def custom_master_file():
    m = "Kelp-42"
    body = ('    <Node Name="上海" Type="Container" Expanded="true" Descr="">\n'
            + connection("        ", "文件服务器", "127.0.0.41", "filer", "f1ler-pw", m)
            + connection("        ", "打印服务器", "127.0.0.42", "printer", "pr1nt-pw", m)
            + '    </Node>\n')
    return document(m, "ThisIsProtected", body)


here = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
(here / "confCons-passwords.xml").write_text(default_master_file(), encoding="utf-8")
(here / "confCons-custom-master.xml").write_text(custom_master_file(), encoding="utf-8")
