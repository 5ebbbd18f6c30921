#!/usr/bin/python3
"""Writes the sample bases of examples/.

  clients.dbf + clients.dbt  a dBase III table with a memo file: 300 customers,
                             text in code page 850 (OEM), as DOS-era tools
                             wrote it; the field to encode is CODE, two of its
                             values are blank, and one record is deleted.
  adresses.txt               a text base of fixed-length lines (LF ends),
                             one byte per character (Latin-1).
  produits_gs1.dbf           a dBase III table of 1,000 drug packs for GS1
                             DataMatrix: GTIN (valid check digits), LOT, EXP
                             (a date field) and SERIAL (a number).
  clients.csv                the customers of clients.dbf as French Excel
                             saves them ("CSV (séparateur : point-virgule)"):
                             semicolons, Windows-1252, CR LF ends, decimal
                             commas, the notes quoted over several lines.

The content is made up from fixed lists with a fixed seed, so the files are the
same at every run. Plain Python 3, no third-party module.

Usage: make_examples.py [OUTPUT_FOLDER]   (default: examples/ of the repository)
"""

import csv
import datetime
import os
import random
import struct
import sys

SEED = 1192
RECORD_COUNT = 300
TEXT_LINE_COUNT = 250
BLANK_CODES = {17, 211}   # records whose CODE is blank
DELETED = {42}            # records flagged as deleted
HEADER_DATE = datetime.date(2024, 1, 15)
MEMO_BLOCK = 512

FIRST_NAMES = [
    'Hélène', 'Jérôme', 'François', 'Gaëlle', 'Noël', 'Zoé', 'Anaïs', 'Loïc',
    'Cécile', 'Benoît', 'Agnès', 'Raphaël', 'Léa', 'Mathéo', 'Chloé', 'Inès',
    'Thérèse', 'André', 'Jean', 'Marie', 'Pierre', 'Sophie', 'Éric', 'Joël',
    'Ève', 'Jürgen', 'Björn', 'Åsa', 'Nuño', 'Çelik', 'Dominique', 'Pascal',
]
LAST_NAMES = [
    'Müller', 'Lefèvre', 'Bézier', 'Dubois', 'Martin', 'Bernard', 'Lemaître',
    'Gérard', 'Rousseau', 'Faure', 'Mercier', 'Boulanger', 'Dupré', 'Noël',
    'Pétain', 'Garçon', 'Lévêque', 'Schäfer', 'Ibáñez', 'Fontaine', 'Chevalier',
    'Morel', 'Girard', 'André', 'Lambert', 'Bonnet', 'François', 'Leroy',
]
STREETS = [
    'rue de la Paix', 'avenue des Frères Lumière', 'boulevard Gambetta',
    'place de l\'Église', 'chemin des Prés', 'allée des Tilleuls', 'impasse du Moulin',
    'rue Émile Zola', 'quai de la Marne', 'route de Besançon', 'rue du Château',
]
CITIES = [
    ('75011', 'Paris'), ('69003', 'Lyon'), ('13001', 'Marseille'), ('31000', 'Toulouse'),
    ('25000', 'Besançon'), ('67000', 'Strasbourg'), ('59800', 'Lille'), ('44000', 'Nantes'),
    ('06000', 'Nice'), ('34000', 'Montpellier'), ('38000', 'Grenoble'), ('21000', 'Dijon'),
    ('97400', 'Saint-Denis'), ('74000', 'Annecy'), ('29200', 'Brest'), ('57000', 'Metz'),
]
NOTES = [
    'Client fidèle depuis l\'ouverture.\r\nPréfère être contacté le matin.',
    'Adresse de livraison différente : voir le bon de commande.',
    'Relancé deux fois pour la facture de décembre.\r\nRèglement reçu le 12/01.',
    'Carte de fidélité perdue, nouvelle carte envoyée.',
    'Demande un étiquetage spécial (code à gauche du nom).',
    'Ancien client de l\'agence de Besançon ; dossier transféré.\r\n'
    'Historique complet dans le classeur « Archives 1998 ».\r\nNe pas relancer avant mars.',
]

# (name, type, length, decimals)
FIELDS = [
    ('CODE', 'C', 13, 0),
    ('NOM', 'C', 20, 0),
    ('PRENOM', 'C', 15, 0),
    ('ADRESSE', 'C', 40, 0),
    ('CP', 'C', 5, 0),
    ('VILLE', 'C', 20, 0),
    ('SOLDE', 'N', 10, 2),
    ('NAISSANCE', 'D', 8, 0),
    ('ACTIF', 'L', 1, 0),
    ('NOTES', 'M', 10, 0),
]


def oem(text, length):
    """Text in code page 850, padded with spaces (or cut) to `length` bytes."""
    data = text.encode('cp850')[:length]
    return data + b' ' * (length - len(data))


def make_records(rng):
    records = []
    for i in range(RECORD_COUNT):
        first = rng.choice(FIRST_NAMES)
        last = rng.choice(LAST_NAMES)
        postcode, city = rng.choice(CITIES)
        street = f'{rng.randint(1, 180)} {rng.choice(STREETS)}'
        code = '' if i in BLANK_CODES else f'CF{2024000 + i * 37:07d}{i % 7}'
        balance = round(rng.uniform(-2500, 15000), 2)
        born = datetime.date(1940, 1, 1) + datetime.timedelta(days=rng.randint(0, 60 * 365))
        note = rng.choice(NOTES) if rng.random() < 0.3 else ''
        records.append({
            'CODE': code,
            'NOM': last.upper() if rng.random() < 0.2 else last,
            'PRENOM': first,
            'ADRESSE': street,
            'CP': postcode,
            'VILLE': city,
            'SOLDE': balance,
            'NAISSANCE': born,
            'ACTIF': rng.random() < 0.85,
            'NOTES': note,
        })
    # The first record carries the names the samples are known by.
    records[0].update({'NOM': 'Müller', 'PRENOM': 'Hélène', 'VILLE': 'Besançon', 'CP': '25000'})
    return records


def write_memo_file(path, notes):
    """dBase III memo file: 512-byte blocks, block 0 is the header; each memo
    ends with two 0x1A bytes. Returns the block number of every note (0 = none)."""
    numbers = []
    next_block = 1
    body = bytearray()
    for note in notes:
        if not note:
            numbers.append(0)
            continue
        data = note.encode('cp850') + b'\x1a\x1a'
        size = (len(data) + MEMO_BLOCK - 1) // MEMO_BLOCK * MEMO_BLOCK
        body += data + b'\x00' * (size - len(data))
        numbers.append(next_block)
        next_block += size // MEMO_BLOCK
    header = bytearray(MEMO_BLOCK)
    struct.pack_into('<I', header, 0, next_block)
    header[16] = 0x03  # dBase III
    with open(path, 'wb') as f:
        f.write(bytes(header) + bytes(body))
    return numbers


def write_dbf(path, records, memo_numbers, fields=None, version=0x83, deleted=DELETED):
    fields = fields or FIELDS
    record_length = 1 + sum(f[2] for f in fields)
    header_length = 32 + 32 * len(fields) + 1
    header = bytearray(32)
    header[0] = version  # 0x83: dBase III with memo
    header[1] = HEADER_DATE.year - 1900
    header[2] = HEADER_DATE.month
    header[3] = HEADER_DATE.day
    struct.pack_into('<IHH', header, 4, len(records), header_length, record_length)
    header[29] = 0x02  # language driver: code page 850
    descriptors = bytearray()
    for name, kind, length, decimals in fields:
        d = bytearray(32)
        d[0:len(name)] = name.encode('ascii')
        d[11] = ord(kind)
        d[16] = length
        d[17] = decimals
        descriptors += d
    out = bytearray(header + descriptors + b'\x0d')
    assert len(out) == header_length
    for i, (record, memo) in enumerate(zip(records, memo_numbers)):
        row = bytearray(b'*' if i in deleted else b' ')
        for name, kind, length, decimals in fields:
            value = record[name]
            if kind == 'C':
                row += oem(value, length)
            elif kind == 'N':
                row += f'{value:{length}.{decimals}f}'.encode('ascii')
            elif kind == 'D':
                row += value.strftime('%Y%m%d').encode('ascii')
            elif kind == 'L':
                row += b'T' if value else b'F'
            elif kind == 'M':
                row += (f'{memo:{length}d}' if memo else ' ' * length).encode('ascii')
        assert len(row) == record_length
        out += row
    out += b'\x1a'
    with open(path, 'wb') as f:
        f.write(bytes(out))


GS1_FIELDS = [
    ('GTIN', 'C', 14, 0),
    ('LOT', 'C', 10, 0),
    ('EXP', 'D', 8, 0),
    ('SERIAL', 'N', 9, 0),
    ('DESIGNATIO', 'C', 30, 0),
]
GS1_RECORD_COUNT = 1000
DRUGS = ['Paracétamol 500 mg', 'Ibuprofène 200 mg', 'Amoxicilline 1 g', 'Oméprazole 20 mg',
         'Métformine 850 mg', 'Lévothyroxine 75 µg', 'Aténolol 50 mg', 'Cétirizine 10 mg']


def gs1_check_digit(digits):
    """The mod-10 check digit of GS1: weights 3, 1, 3... from the right."""
    total = sum(int(d) * (3 if i % 2 == 0 else 1) for i, d in enumerate(reversed(digits)))
    return str((10 - total % 10) % 10)


def make_gs1_records(rng):
    """Drug packs: eight products of one company prefix, lots of 50 packs,
    each pack a serial number of its own."""
    records = []
    for i in range(GS1_RECORD_COUNT):
        product = i % len(DRUGS)
        body = f'0345312{product + 1:06d}'
        lot = f'L{rng.randrange(1000, 9999)}{chr(65 + (i // 50) % 26)}'
        expiry = datetime.date(2026 + rng.randrange(0, 4), rng.randrange(1, 13), 1) - datetime.timedelta(days=1)
        records.append({'GTIN': body + gs1_check_digit(body), 'LOT': lot, 'EXP': expiry,
                        'SERIAL': float(100000 + i * 7919 % 900000), 'DESIGNATIO': DRUGS[product]})
    return records


def write_text_base(path, rng):
    """Fixed-length lines: reference (10), name (20), first name (15),
    postcode (5), city (20); Latin-1, LF line ends."""
    lines = []
    for i in range(TEXT_LINE_COUNT):
        postcode, city = rng.choice(CITIES)
        fields = [
            (f'AD{100000 + i * 13:08d}', 10),
            (rng.choice(LAST_NAMES), 20),
            (rng.choice(FIRST_NAMES), 15),
            (postcode, 5),
            (city, 20),
        ]
        line = b''.join(text.encode('latin-1')[:n].ljust(n, b' ') for text, n in fields)
        assert len(line) == 70
        lines.append(line)
    with open(path, 'wb') as f:
        f.write(b'\n'.join(lines) + b'\n')


def write_csv_base(path, records):
    """The customers as a spreadsheet exports them: a header of names, then one
    row per customer, quoted only where a value needs it."""
    columns = ['CODE', 'NOM', 'PRENOM', 'ADRESSE', 'CP', 'VILLE', 'SOLDE', 'NOTES']
    with open(path, 'w', encoding='cp1252', newline='') as f:
        writer = csv.writer(f, delimiter=';', lineterminator='\r\n', quoting=csv.QUOTE_MINIMAL)
        writer.writerow(columns)
        for r in records:
            row = dict(r, SOLDE=f"{r['SOLDE']:.2f}".replace('.', ','))
            writer.writerow([row[c] for c in columns])


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder = argv[0] if argv else os.path.join(root, 'examples')
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(SEED)
    records = make_records(rng)
    memo_numbers = write_memo_file(os.path.join(folder, 'clients.dbt'), [r['NOTES'] for r in records])
    write_dbf(os.path.join(folder, 'clients.dbf'), records, memo_numbers)
    write_text_base(os.path.join(folder, 'adresses.txt'), rng)
    write_csv_base(os.path.join(folder, 'clients.csv'), records)
    gs1_records = make_gs1_records(random.Random(SEED + 22))
    write_dbf(os.path.join(folder, 'produits_gs1.dbf'), gs1_records, [0] * len(gs1_records), GS1_FIELDS, 0x03, set())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
