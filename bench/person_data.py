"""Synthetic person records with known answers, for record-linkage benchmarks.

    python bench/person_data.py --link 10000 OUT_DIR      left.csv, right.csv, truth.csv
    python bench/person_data.py --dedup 1000000 OUT_DIR   records.csv, truth.csv
    (--seed N, --format csv|parquet, --duplicate-rate R)

A population lives in households: members share a surname (mostly), an
address, a postcode and a landline, and differ in first name and birth date.
Names are drawn from built-in lists with Zipf-like weights, so "smith" is
common and most surnames are rare. Every record is a corrupted view of one
person: typos (insertion, deletion, substitution, transposition), nicknames,
first and last names swapped, initials, missing fields, street suffixes
abbreviated, date slips (day and month swapped, a day or a year off), and
moves (a new address, postcode and landline).

Tables are ``dict[str, list[str | None]]`` (column -> values, None missing),
all columns strings, with an ``id`` column and a hidden ``entity`` column
(the person) that a tool must not be given. Everything is drawn from one
NumPy generator seeded by the caller: the same seed gives the same tables.

    left, right = make_link_tables(10_000, seed=1)   # census vs tax form
    table = make_dedup_table(1_000_000, seed=1, duplicate_rate=0.2)
"""

from __future__ import annotations

import argparse
import csv
from dataclasses import dataclass, field, replace
from functools import cache
from pathlib import Path

import numpy as np

FIELDS = (
    "first_name", "surname", "dob", "street_number", "street", "city", "postcode", "phone", "email",
)  # fmt: skip
Table = dict[str, list]

# ---------------------------------------------------------------- vocabulary
# Most popular first; weights fall off as a Zipf law over the rank.

MALE_NAMES = """
james john robert michael william david richard joseph thomas charles christopher daniel matthew anthony
mark donald steven paul andrew joshua kenneth kevin brian george timothy ronald edward jason jeffrey ryan
jacob gary nicholas eric jonathan stephen larry justin scott brandon benjamin samuel gregory alexander
frank patrick raymond jack dennis jerry tyler aaron jose adam nathan henry douglas zachary peter kyle
ethan walter noah jeremy christian keith roger terry gerald harold sean austin carl arthur lawrence dylan
jesse jordan bryan billy joe bruce gabriel logan albert willie alan juan wayne elijah randy roy vincent
ralph eugene russell bobby mason philip louis harry oliver leo oscar theodore hugo freddie archie alfie
lucas isaac finley toby rory callum connor declan liam owen rhys gareth dafydd ewan angus hamish duncan
fraser graham neil ian colin malcolm stuart alistair gordon ross bernard clive derek desmond edmund
felix gilbert herbert horace jasper lionel maurice nigel percy reginald rupert sidney stanley trevor
victor wilfred ambrose barnaby cedric cyril ernest gideon howard leonard martin norman quentin
""".split()

FEMALE_NAMES = """
mary patricia jennifer linda elizabeth barbara susan jessica sarah karen lisa nancy betty margaret sandra
ashley kimberly emily donna michelle carol amanda dorothy melissa deborah stephanie rebecca sharon laura
cynthia kathleen amy angela shirley anna brenda pamela emma nicole helen samantha katherine christine
debra rachel carolyn janet catherine maria heather diane ruth julie olivia joyce virginia victoria kelly
lauren christina joan evelyn judith megan andrea cheryl hannah jacqueline martha gloria teresa ann sara
madison frances kathryn janice jean abigail alice judy sophia grace denise amber doris marilyn danielle
beverly isabella theresa diana natalie brittany charlotte marie kayla alexis lori amelia isla ava mia
ivy poppy freya lily florence willow rosie sienna daisy phoebe evie harriet imogen matilda esme beatrice
eleanor clara edith elsie mabel maud agnes winifred gwendolyn bronwen cerys eilidh fiona morag shona
kirsty ailsa iona heidi ingrid astrid greta hilda ida nora vera wilma yvonne zoe jemima lucinda
penelope rosalind susannah tabitha araminta ottilie philippa veronica gertrude henrietta josephine
""".split()

# Formal name -> the short forms people write instead.
NICKNAMES = {
    "william": ["bill", "will", "billy", "liam"], "robert": ["bob", "rob", "bobby", "robbie"],
    "elizabeth": ["liz", "beth", "betty", "eliza", "lizzie"], "richard": ["dick", "rick", "rich"],
    "james": ["jim", "jimmy", "jamie"], "john": ["jack", "johnny"], "michael": ["mike", "mick", "mickey"],
    "thomas": ["tom", "tommy"], "charles": ["charlie", "chuck", "chas"], "christopher": ["chris", "kit"],
    "daniel": ["dan", "danny"], "matthew": ["matt"], "anthony": ["tony"], "joseph": ["joe", "joey"],
    "donald": ["don", "donny"], "steven": ["steve"], "stephen": ["steve"], "andrew": ["andy", "drew"],
    "kenneth": ["ken", "kenny"], "timothy": ["tim"], "ronald": ["ron", "ronnie"], "edward": ["ed", "ted", "eddie"],
    "jeffrey": ["jeff"], "nicholas": ["nick", "nicky"], "jonathan": ["jon"], "gregory": ["greg"],
    "alexander": ["alex", "sandy"], "benjamin": ["ben", "benny"], "samuel": ["sam", "sammy"],
    "patrick": ["pat", "paddy"], "raymond": ["ray"], "zachary": ["zach"], "peter": ["pete"],
    "lawrence": ["larry"], "gerald": ["gerry"], "harold": ["harry", "hal"], "philip": ["phil"],
    "theodore": ["theo", "ted"], "frederick": ["fred"], "albert": ["al", "bert"], "leonard": ["len", "lenny"],
    "margaret": ["maggie", "peggy", "meg"], "patricia": ["pat", "patty", "trish"], "jennifer": ["jenny", "jen"],
    "barbara": ["barb", "babs"], "susan": ["sue", "suzie"], "jessica": ["jess", "jessie"],
    "kimberly": ["kim"], "deborah": ["debbie", "deb"], "debra": ["debbie"], "rebecca": ["becky", "becca"],
    "katherine": ["kate", "kathy", "katie"], "catherine": ["cathy", "kate", "cat"], "kathleen": ["kathy"],
    "christine": ["chris", "tina"], "christina": ["tina", "chris"], "samantha": ["sam", "sammy"],
    "victoria": ["vicky", "tori"], "jacqueline": ["jackie"], "abigail": ["abby"], "alexandra": ["alex"],
    "dorothy": ["dot", "dottie"], "pamela": ["pam"], "cynthia": ["cindy"], "amanda": ["mandy"],
    "judith": ["judy"], "frances": ["fran"], "theresa": ["terry"], "teresa": ["terry"], "eleanor": ["ellie", "nora"],
    "josephine": ["jo", "josie"], "penelope": ["penny"], "philippa": ["pippa"], "susannah": ["sue"],
    "isabella": ["bella", "izzy"], "charlotte": ["lottie", "charlie"], "florence": ["flo"], "matilda": ["tilly"],
    "henrietta": ["hetty"], "gwendolyn": ["gwen"], "veronica": ["ronnie"], "natalie": ["nat"], "harriet": ["hattie"],
}  # fmt: skip

COMMON_SURNAMES = """
smith johnson williams brown jones garcia miller davis rodriguez martinez hernandez lopez gonzalez wilson
anderson thomas taylor moore jackson martin lee perez thompson white harris sanchez clark ramirez lewis
robinson walker young allen king wright scott torres nguyen hill flores green adams nelson baker hall
rivera campbell mitchell carter roberts evans turner phillips parker edwards collins stewart morris
murphy cook rogers morgan cooper peterson bailey reed kelly howard cox ward richardson watson brooks
wood james bennett gray hughes price sanders myers long ross foster powell jenkins perry russell
sullivan bell coleman butler henderson barnes fisher vasquez simmons patterson jordan reynolds hamilton
graham wallace west cole hayes ellis gibson marshall owens mcdonald kennedy wells dixon robertson black
holmes stone palmer mills grant knight ferguson rose hunt shaw gordon burns fox warren dunn hudson
""".split()

SYLLABLES_START = (
    "ab ad al an ar ash bar bel ber bla bran brook cal car char cor dal dar del dun el en far fen "
    "fin gar gil gor hal har hart hol kel ken kin lan lar ley lin mal mar mel mor nor ol os pen per ran rid "
    "ros sal sel shel stan stow tal tar thor tur val ver wal war wel wes whit win wyn".split()
)
SYLLABLES_MIDDLE = "a e i o u ar er in on el an en or al".split()
SYLLABLES_END = (
    "by combe den dale field ford ham hurst ington ley low man more ney ridge rock shaw son ston "
    "ton ville well wick wood worth ski ez ini ard ett ock".split()
)

STREET_WORDS = """
high station church main park victoria mill school north south west east queen king green manor
chapel new london bridge albert alexandra york grove springfield windsor orchard meadow oak elm ash birch
cedar willow maple beech chestnut holly hawthorn rowan poplar hazel lime pine larch yew sycamore
""".split()
STREET_SUFFIXES = ["street", "road", "avenue", "lane", "drive", "close", "way", "place", "crescent", "terrace"]
SUFFIX_SHORT = {"street": "st", "road": "rd", "avenue": "ave", "lane": "ln", "drive": "dr", "close": "cl",
                "way": "wy", "place": "pl", "crescent": "cres", "terrace": "tce"}  # fmt: skip
EMAIL_DOMAINS = ["gmail.com", "yahoo.com", "hotmail.com", "outlook.com", "icloud.com", "mail.net", "post.org"]
LETTERS = np.array(list("abcdefghijklmnopqrstuvwxyz"))


def zipf_weights(count: int, exponent: float = 1.0, offset: float = 2.0) -> np.ndarray:
    weights = 1.0 / (np.arange(count) + offset) ** exponent
    return weights / weights.sum()


@dataclass(frozen=True)
class Vocabulary:
    male: np.ndarray
    female: np.ndarray
    surnames: np.ndarray
    streets: np.ndarray
    cities: np.ndarray
    city_area_codes: np.ndarray  # the first three digits of each city's postcodes and landlines
    male_weights: np.ndarray = field(repr=False)
    female_weights: np.ndarray = field(repr=False)
    surname_weights: np.ndarray = field(repr=False)
    street_weights: np.ndarray = field(repr=False)
    city_weights: np.ndarray = field(repr=False)


def _coined_words(rng: np.random.Generator, count: int, exclude: set[str]) -> list[str]:
    words: dict[str, None] = {}
    while len(words) < count:
        start = rng.choice(SYLLABLES_START, 4 * count)
        middle = np.where(rng.random(4 * count) < 0.3, rng.choice(SYLLABLES_MIDDLE, 4 * count), "")
        end = rng.choice(SYLLABLES_END, 4 * count)
        for word in np.char.add(np.char.add(start, middle), end).tolist():
            if word not in exclude and len(words) < count:
                words[word] = None
    return list(words)


@cache
def vocabulary() -> Vocabulary:
    """The same word lists for every seed (drawn once from a fixed generator)."""
    rng = np.random.default_rng(20240611)
    surnames = list(dict.fromkeys(COMMON_SURNAMES))
    surnames += _coined_words(rng, 6000, set(surnames))
    streets = [f"{word} {suffix}" for word in STREET_WORDS + surnames[:60] for suffix in STREET_SUFFIXES]
    streets = [streets[k] for k in rng.permutation(len(streets))]
    cities = _coined_words(rng, 400, set(surnames))
    area_codes = rng.choice(np.arange(100, 1000), len(cities), replace=False)
    return Vocabulary(
        male=np.array(list(dict.fromkeys(MALE_NAMES)), dtype=object),
        female=np.array(list(dict.fromkeys(FEMALE_NAMES)), dtype=object),
        surnames=np.array(surnames, dtype=object),
        streets=np.array(streets, dtype=object),
        cities=np.array(cities, dtype=object),
        city_area_codes=area_codes,
        male_weights=zipf_weights(len(set(MALE_NAMES)), 1.0, 8.0),
        female_weights=zipf_weights(len(set(FEMALE_NAMES)), 1.0, 8.0),
        surname_weights=zipf_weights(len(surnames), 1.0, 20.0),
        street_weights=zipf_weights(len(streets), 0.6, 5.0),
        city_weights=zipf_weights(len(cities), 1.0, 2.0),
    )


# ---------------------------------------------------------------- population


@dataclass
class Population:
    """One row per person; address columns are per household."""

    household: np.ndarray
    first_name: np.ndarray  # object arrays of str
    surname: np.ndarray
    dob: np.ndarray  # datetime64[D]
    mobile: np.ndarray  # object, None for people without one
    email: np.ndarray  # object, None for children
    street_number: np.ndarray  # per household, like the columns below
    street: np.ndarray
    city: np.ndarray
    postcode: np.ndarray
    landline: np.ndarray

    def __len__(self) -> int:
        return len(self.household)


HOUSEHOLD_SIZES = np.array([1, 2, 3, 4, 5, 6])
HOUSEHOLD_SIZE_WEIGHTS = np.array([0.30, 0.32, 0.15, 0.14, 0.06, 0.03])


def _digits(rng: np.random.Generator, count: int, width: int) -> np.ndarray:
    values = rng.integers(0, 10**width, count)
    return np.char.zfill(values.astype(str), width)


def _addresses(rng: np.random.Generator, count: int) -> tuple[np.ndarray, ...]:
    """count random addresses: number, street, city, postcode, landline."""
    vocab = vocabulary()
    city = rng.choice(len(vocab.cities), count, p=vocab.city_weights)
    street = rng.choice(len(vocab.streets), count, p=vocab.street_weights)
    number = np.minimum(rng.geometric(1 / 40, count), 400)
    area = vocab.city_area_codes[city].astype(str)
    postcode = np.char.add(area, np.char.zfill(rng.integers(0, 100, count).astype(str), 2))
    landline = np.char.add(np.char.add("0", area), _digits(rng, count, 6))
    number_text = number.astype(str).astype(object)
    return number_text, vocab.streets[street], vocab.cities[city], postcode.astype(object), landline.astype(object)


def make_population(n_people: int, rng: np.random.Generator) -> Population:
    """About n_people people in households (exactly n_people rows)."""
    vocab = vocabulary()
    sizes = rng.choice(HOUSEHOLD_SIZES, n_people, p=HOUSEHOLD_SIZE_WEIGHTS)
    sizes = sizes[: int(np.searchsorted(np.cumsum(sizes), n_people)) + 1]
    sizes[-1] -= int(sizes.sum()) - n_people
    n_households = len(sizes)
    household = np.repeat(np.arange(n_households), sizes)
    rank = np.arange(n_people) - np.repeat(np.cumsum(sizes) - sizes, sizes)  # 0 head, 1 partner, 2+ children

    # Heads born 1935-2002; partners within a few years; children 18-42 years
    # after the head, and before the end of 2024.
    head_birth = np.datetime64("1935-01-01") + rng.integers(0, 68 * 365, n_households).astype("timedelta64[D]")
    head_day = (head_birth[household] - np.datetime64("1970-01-01")).astype(int)
    last_child_day = np.minimum(
        head_day + 42 * 365, (np.datetime64("2024-12-31") - np.datetime64("1970-01-01")).astype(int)
    )
    child_day = head_day + 18 * 365 + (rng.random(n_people) * (last_child_day - head_day - 18 * 365)).astype(int)
    partner_day = head_day + rng.normal(0, 4 * 365, n_people).astype(int)
    day = np.where(rank == 0, head_day, np.where(rank == 1, partner_day, child_day))
    dob = np.datetime64("1970-01-01") + day.astype("timedelta64[D]")

    male = rng.random(n_people) < 0.5
    male[rank == 1] = ~male[np.flatnonzero(rank == 1) - 1]  # partners of the other sex, mostly
    first = np.empty(n_people, dtype=object)
    first[male] = rng.choice(vocab.male, int(male.sum()), p=vocab.male_weights)
    first[~male] = rng.choice(vocab.female, int((~male).sum()), p=vocab.female_weights)
    # No two members of a household share a first name: redraw until none does.
    while True:
        clash = np.zeros(n_people, bool)
        for lag in range(1, int(HOUSEHOLD_SIZES[-1])):
            clash[lag:] |= (rank[lag:] >= lag) & (first[lag:] == first[:-lag])
        if not clash.any():
            break
        for is_male, names, weights in (
            (True, vocab.male, vocab.male_weights),
            (False, vocab.female, vocab.female_weights),
        ):
            rows = clash & (male == is_male)
            first[rows] = rng.choice(names, int(rows.sum()), p=weights)

    household_surname = rng.choice(vocab.surnames, n_households, p=vocab.surname_weights)
    surname = household_surname[household]
    own_surname = (rank == 1) & (rng.random(n_people) < 0.2)  # partners who kept their name
    surname[own_surname] = rng.choice(vocab.surnames, int(own_surname.sum()), p=vocab.surname_weights)

    adult = rank < 2
    has_mobile = adult | (rng.random(n_people) < 0.4)
    mobile = np.where(has_mobile, np.char.add("07", _digits(rng, n_people, 9)).astype(object), None)
    email_number = rng.integers(0, 100, n_people).astype(str)
    email_style = rng.integers(0, 3, n_people)
    domains = rng.choice(EMAIL_DOMAINS, n_people)
    email = np.empty(n_people, dtype=object)
    adults = np.flatnonzero(adult)
    email[adults] = [
        f"{f}.{s}@{d}" if style == 0 else f"{f[0]}{s}{k}@{d}" if style == 1 else f"{f}{k}@{d}"
        for f, s, d, style, k in zip(
            first[adults].tolist(), surname[adults].tolist(), domains[adults].tolist(),
            email_style[adults].tolist(), email_number[adults].tolist(),
        )
    ]  # fmt: skip

    number, street, city, postcode, landline = _addresses(rng, n_households)
    return Population(household, first, surname, dob, mobile, email, number, street, city, postcode, landline)


# ---------------------------------------------------------------- corruption


@dataclass(frozen=True)
class Corruption:
    """Per-record probabilities of each kind of error."""

    swap_names: float = 0.02
    nickname: float = 0.08
    initial: float = 0.01
    first_typo: float = 0.05
    first_missing: float = 0.02
    surname_typo: float = 0.05
    surname_missing: float = 0.01
    dob_missing: float = 0.02
    dob_day_month_swap: float = 0.02
    dob_day_off: float = 0.02
    dob_year_off: float = 0.015
    number_missing: float = 0.05
    number_typo: float = 0.01
    street_typo: float = 0.04
    street_abbreviated: float = 0.15
    city_typo: float = 0.02
    city_missing: float = 0.03
    postcode_typo: float = 0.02
    postcode_missing: float = 0.02
    phone_missing: float = 0.15
    phone_typo: float = 0.02
    prefer_mobile: float = 0.3  # the phone given is the mobile (when there is one), else the landline
    email_present: float = 0.3
    email_typo: float = 0.01
    moved: float = 0.0  # a new address, postcode and landline (whole households move together)


CENSUS = Corruption()
TAX_FORM = Corruption(
    nickname=0.12, first_typo=0.06, street_abbreviated=0.4, phone_missing=0.1, prefer_mobile=0.7, email_present=0.6
)
DUPLICATE = Corruption(prefer_mobile=0.5, email_present=0.4)


def typo(word: str, draws: np.ndarray, alphabet: np.ndarray = LETTERS) -> str:
    """One insertion, deletion, substitution or transposition, chosen by
    three uniform draws in [0, 1)."""
    if not word:
        return word
    kind = int(draws[0] * 4) if len(word) > 1 else 2
    at = int(draws[1] * len(word))
    letter = str(alphabet[int(draws[2] * len(alphabet))])
    if kind == 0:
        return word[:at] + letter + word[at:]
    if kind == 1:
        return word[:at] + word[at + 1 :]
    if kind == 2:
        return word[:at] + letter + word[at + 1 :]
    at = min(at, len(word) - 2)
    return word[:at] + word[at + 1] + word[at] + word[at + 2 :]


DIGITS = np.array(list("0123456789"))


def _apply(values: np.ndarray, mask: np.ndarray, change) -> None:
    for row in np.flatnonzero(mask).tolist():
        if values[row] is not None:
            values[row] = change(values[row])


def _typos(values: np.ndarray, mask: np.ndarray, rng: np.random.Generator, alphabet: np.ndarray = LETTERS) -> None:
    rows = np.flatnonzero(mask).tolist()
    draws = rng.random((len(rows), 3))
    for row, draw in zip(rows, draws):
        if values[row] is not None:
            values[row] = typo(values[row], draw, alphabet)


def _set_missing(values: np.ndarray, mask: np.ndarray) -> None:
    values[mask] = None


def _shifted_dates(dob: np.ndarray, rng: np.random.Generator, rates: Corruption) -> list[str | None]:
    count = len(dob)
    year = dob.astype("datetime64[Y]").astype(int) + 1970
    month = dob.astype("datetime64[M]").astype(int) % 12 + 1
    day = (dob - dob.astype("datetime64[M]")).astype(int) + 1
    roll = rng.random((4, count))
    swap = (roll[0] < rates.dob_day_month_swap) & (day <= 12) & (day != month)
    month, day = np.where(swap, day, month), np.where(swap, month, day)
    year = year + np.where(roll[1] < rates.dob_year_off, rng.choice([-1, 1], count), 0)
    start = ((year - 1970) * 12 + month - 1).astype("datetime64[M]")
    month_length = ((start + np.timedelta64(1, "M")).astype("datetime64[D]") - start.astype("datetime64[D]")).astype(
        int
    )
    day = np.minimum(day, month_length)  # 29 February of a year that slipped to a common one
    day_off = np.where(roll[2] < rates.dob_day_off, rng.choice([-1, 1], count), 0)
    dates = start.astype("datetime64[D]") + (day - 1 + day_off).astype("timedelta64[D]")
    text = np.datetime_as_string(dates, unit="D").astype(object)
    text[roll[3] < rates.dob_missing] = None
    return text.tolist()


def corrupt_records(people: np.ndarray, population: Population, rng: np.random.Generator, rates: Corruption) -> Table:
    """A record for each entry of people (indices into population, repeats allowed)."""
    count = len(people)
    pop = population
    home = pop.household[people]
    first = pop.first_name[people].copy()
    surname = pop.surname[people].copy()
    number = pop.street_number[home].copy()
    street = pop.street[home].copy()
    city = pop.city[home].copy()
    postcode = pop.postcode[home].copy()
    landline = pop.landline[home].copy()

    moved = rng.random(count) < rates.moved
    if moved.any():
        # Whole households move together: one new address per (household, table).
        movers, which = np.unique(home[moved], return_inverse=True)
        new = _addresses(rng, len(movers))
        for column, values in zip((number, street, city, postcode, landline), new):
            column[moved] = values[which]

    roll = lambda: rng.random(count)  # noqa: E731 - one fresh draw per decision

    mobile = pop.mobile[people]
    use_mobile = (roll() < rates.prefer_mobile) & (mobile != None)  # noqa: E711 - elementwise
    phone = np.where(use_mobile, mobile, landline)

    rows = np.flatnonzero(roll() < rates.nickname).tolist()
    for row, draw in zip(rows, rng.random(len(rows))):
        shorts = NICKNAMES.get(first[row])
        if shorts:
            first[row] = shorts[int(draw * len(shorts))]
    _apply(first, roll() < rates.initial, lambda name: name[0])
    _typos(first, roll() < rates.first_typo, rng)
    _typos(surname, roll() < rates.surname_typo, rng)
    swap = roll() < rates.swap_names
    first[swap], surname[swap] = surname[swap], first[swap]
    _set_missing(first, roll() < rates.first_missing)
    _set_missing(surname, roll() < rates.surname_missing)

    dob = _shifted_dates(pop.dob[people], rng, rates)

    _typos(number, roll() < rates.number_typo, rng, DIGITS[1:])
    _set_missing(number, roll() < rates.number_missing)

    def abbreviate(name: str) -> str:
        word, _, suffix = name.rpartition(" ")
        return f"{word} {SUFFIX_SHORT.get(suffix, suffix)}"

    _apply(street, roll() < rates.street_abbreviated, abbreviate)
    _typos(street, roll() < rates.street_typo, rng)
    _typos(city, roll() < rates.city_typo, rng)
    _set_missing(city, roll() < rates.city_missing)
    _typos(postcode, roll() < rates.postcode_typo, rng, DIGITS)
    _set_missing(postcode, roll() < rates.postcode_missing)
    _typos(phone, roll() < rates.phone_typo, rng, DIGITS)
    _set_missing(phone, roll() < rates.phone_missing)

    email = pop.email[people].copy()
    email[roll() >= rates.email_present] = None
    _typos(email, roll() < rates.email_typo, rng)

    return {
        "first_name": first.tolist(),
        "surname": surname.tolist(),
        "dob": dob,
        "street_number": number.tolist(),
        "street": street.tolist(),
        "city": city.tolist(),
        "postcode": postcode.tolist(),
        "phone": phone.tolist(),
        "email": email.tolist(),
    }


def _finish(records: Table, people: np.ndarray, prefix: str, rng: np.random.Generator) -> Table:
    """Shuffles the rows, numbers them and adds the hidden entity column."""
    order = rng.permutation(len(people))
    width = len(str(len(people)))
    table: Table = {"id": [f"{prefix}{k:0{width}d}" for k in range(len(people))]}
    for name in FIELDS:
        table[name] = np.array(records[name], dtype=object)[order].tolist()
    table["entity"] = [f"p{person}" for person in people[order].tolist()]
    return table


# ---------------------------------------------------------------- public API


def make_link_tables(
    n: int = 10_000, seed: int = 0, *, coverage: float = 0.9, left: Corruption = CENSUS, right: Corruption = TAX_FORM
) -> tuple[Table, Table]:
    """A census table and a tax-form table of the same population, each about
    n rows. Each person is in each table with probability coverage (so about
    coverage**2 of them are in both); 8% of households have moved between the
    two, and 2% of people on their own."""
    rng = np.random.default_rng(seed)
    population = make_population(max(1, round(n / coverage)), rng)
    size = len(population)
    in_left = np.flatnonzero(rng.random(size) < coverage)
    in_right = np.flatnonzero(rng.random(size) < coverage)
    left_table = _finish(corrupt_records(in_left, population, rng, left), in_left, "c", rng)
    moved_households = rng.random(int(population.household[-1]) + 1) < 0.08
    moved = moved_households[population.household[in_right]] | (rng.random(len(in_right)) < 0.02)
    right_records = corrupt_records(in_right, population, rng, right)
    _move(right_records, moved, in_right, population, rng, right)
    right_table = _finish(right_records, in_right, "t", rng)
    return left_table, right_table


def make_dedup_table(n: int = 1_000_000, seed: int = 0, duplicate_rate: float = 0.2) -> Table:
    """n records of which about duplicate_rate are further records of a person
    already present (a person has 1 + Poisson-like many); 10% of duplicates
    give another address."""
    rng = np.random.default_rng(seed)
    n_people = max(1, round(n * (1 - duplicate_rate)))
    population = make_population(n_people, rng)
    extra = rng.integers(0, n_people, n - n_people)
    people = np.concatenate([np.arange(n_people), extra])
    records = corrupt_records(people, population, rng, DUPLICATE)
    moved = np.concatenate([np.zeros(n_people, bool), rng.random(len(extra)) < 0.1])
    _move(records, moved, people, population, rng, DUPLICATE)
    return _finish(records, people, "r", rng)


ADDRESS_FIELDS = ("street_number", "street", "city", "postcode", "phone")


def _move(
    records: Table, moved: np.ndarray, people: np.ndarray, population: Population, rng, rates: Corruption
) -> None:
    """Gives the records where moved is set a new address (and landline)."""
    if not moved.any():
        return
    relocated = corrupt_records(people[moved], population, rng, replace(rates, moved=1.0))
    rows = np.flatnonzero(moved).tolist()
    for name in ADDRESS_FIELDS:
        column = records[name]
        for row, value in zip(rows, relocated[name]):
            column[row] = value


def true_link_pairs(left: Table, right: Table) -> set[tuple[str, str]]:
    """(left id, right id) of every pair of records of one person."""
    by_entity: dict[str, list[str]] = {}
    for record_id, entity in zip(left["id"], left["entity"]):
        by_entity.setdefault(entity, []).append(record_id)
    return {(a, b) for b, entity in zip(right["id"], right["entity"]) for a in by_entity.get(entity, ())}


def true_dedup_pairs(table: Table) -> set[tuple[str, str]]:
    """Every unordered pair of records of one person, as (smaller id, larger id)."""
    by_entity: dict[str, list[str]] = {}
    for record_id, entity in zip(table["id"], table["entity"]):
        by_entity.setdefault(entity, []).append(record_id)
    pairs = set()
    for ids in by_entity.values():
        ids.sort()
        pairs.update((ids[a], ids[b]) for a in range(len(ids)) for b in range(a + 1, len(ids)))
    return pairs


def without_truth(table: Table) -> Table:
    return {name: values for name, values in table.items() if name != "entity"}


def write_table(table: Table, path: Path, *, truth: bool = False) -> Path:
    """Writes a table as CSV (empty cell = missing) or, for a .parquet path,
    Parquet (null = missing; needs pyarrow). The entity column only if truth."""
    table = table if truth else without_truth(table)
    path = Path(path)
    if path.suffix == ".parquet":
        import pyarrow as pa
        import pyarrow.parquet as pq

        pq.write_table(pa.table({name: pa.array(values, pa.string()) for name, values in table.items()}), path)
        return path
    with open(path, "w", encoding="utf-8", newline="") as file:
        writer = csv.writer(file)
        writer.writerow(table)
        writer.writerows(zip(*([("" if v is None else v) for v in column] for column in table.values())))
    return path


def write_truth(tables: dict[str, Table], path: Path) -> Path:
    """table, id, entity of every record: the answers, apart from the data."""
    with open(path, "w", encoding="utf-8", newline="") as file:
        writer = csv.writer(file)
        writer.writerow(["table", "id", "entity"])
        for name, table in tables.items():
            writer.writerows((name, record_id, entity) for record_id, entity in zip(table["id"], table["entity"]))
    return path


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--link", type=int, metavar="N", help="two tables of about N rows each")
    mode.add_argument("--dedup", type=int, metavar="N", help="one table of N rows with duplicates")
    parser.add_argument("out_dir", type=Path)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--duplicate-rate", type=float, default=0.2)
    parser.add_argument("--format", choices=("csv", "parquet"), default="csv")
    args = parser.parse_args(argv)
    args.out_dir.mkdir(parents=True, exist_ok=True)
    if args.link is not None:
        left, right = make_link_tables(args.link, args.seed)
        tables = {"left": left, "right": right}
    else:
        tables = {"records": make_dedup_table(args.dedup, args.seed, args.duplicate_rate)}
    for name, table in tables.items():
        print(write_table(table, args.out_dir / f"{name}.{args.format}"))
    print(write_truth(tables, args.out_dir / "truth.csv"))


if __name__ == "__main__":
    main()
