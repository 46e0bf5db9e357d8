"""Helpers for tests that look at or tamper with the database file directly."""
import sqlite3


def rows(path, sql, params=()):
    with sqlite3.connect(path) as conn:
        return conn.execute(sql, params).fetchall()


def execute(path, sql, params=()):
    conn = sqlite3.connect(path)
    try:
        conn.execute(sql, params)
        conn.commit()
    finally:
        conn.close()


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def canonical(value):
    """The stored text of a property value, written out independently of the engine."""
    if isinstance(value, bool):
        return "bool", "true" if value else "false"
    if isinstance(value, int):
        return "int", str(value)
    if isinstance(value, float):
        from decimal import Decimal
        text = format(Decimal(repr(value)), "f")  # repr holds the shortest round-trip digits
        if "." in text:
            text = text.rstrip("0").rstrip(".")
        return "float", text
    return "string", value


def encode_map(props):
    lines = []
    for key in sorted(props, key=lambda k: k.encode()):
        tag, text = canonical(props[key])
        lines.append(f"{escape(key)}\t{tag}\t{escape(text)}")
    return "\n".join(lines)
