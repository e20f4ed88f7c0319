#!/usr/bin/env python3
"""Deterministic text corpora for punb-vectorize, made up for this project.

  gen_text_corpus.py example DIR [--seed S]
      the small corpus of examples/text: short posts, the positive class about gardening, the
      others about cooking, cycling, the night sky and music; folders train/pos, train/unsup
      (a third of it about gardening), test/pos, test/neg; one post per file.
  gen_text_corpus.py lines DIR --megabytes N [--seed S]
      a large corpus for the benchmarks: DIR/pos.txt and DIR/unsup.txt, one document per line,
      about N MB in all: English function words and made-up words (3 % with an accent), drawn
      with Zipf frequencies from a vocabulary that grows with the square root of the corpus,
      with capitals and punctuation.
  gen_text_corpus.py mail DIR --megabytes N [--seed S]
      a large corpus like a mail folder: DIR/pos/ and DIR/unsup/, one message per file of 1 to
      10 kB: headers, HTML tags and entities, URLs, addresses, numbers, dates and quoted
      replies, the words drawn as for `lines`, and 5 % of them in other scripts (accented Latin,
      Greek, Cyrillic, Arabic, Hebrew, Devanagari, Thai, Chinese, Japanese, Korean), each
      script's words made up and drawn with Zipf frequencies from a vocabulary of its own.
"""
import argparse
import itertools
import os
import random

COMMON = """the a an and or but of to in on at for with from by about as is are was were be
been it this that these those i you we they he she my our your their very really just also
so then when while after before because if not no some many more most all every each other
same first last new old good great small big long short day week year time way thing place
people today yesterday morning evening again still never always often sometimes""".split()

TOPICS = {
    "garden": """garden soil seeds seedling compost mulch tomato tomatoes roses tulips bulbs
pruning prune shears hedge lawn mower weeds weeding watering hose rain greenhouse pots potting
beds raised bed harvest spinach lettuce beans peas courgette squash herbs basil thyme sage
roots leaves blossom bloom flowers shrub trellis fertiliser manure worms slugs aphids spade
trowel rake sowing germinate cuttings orchard apple pear hedgehog bees pollen allotment""",
    "cooking": """recipe kitchen oven stove pan skillet butter flour sugar salt pepper garlic
onion onions sauce simmer boil roast bake baking bread dough yeast knead pasta rice noodles
soup stew broth spices cumin paprika chili lemon vinegar olive oil dinner lunch breakfast
dessert cake pastry crust chocolate cream cheese eggs whisk chop slice fry grill café
crème brûlée tomato herbs basil""",
    "cycling": """bike bicycle ride riding rider cyclist wheel wheels tyre tyres spokes chain
gears saddle pedal pedals brakes helmet route climb descent hill hills miles kilometres
race peloton sprint jersey cadence puncture pump frame carbon steel commute trail gravel
mountain road training intervals watts legs headwind tailwind tour""",
    "sky": """telescope stars star galaxy galaxies planet planets moon lunar eclipse comet
meteor meteors orbit nebula cluster constellation orion jupiter saturn rings mars venus
observatory eyepiece lens mirror focus dark sky night horizon twilight dusk dawn clouds
astronomy astronomer light years sunspots aurora""",
    "music": """guitar piano violin cello drums bass song songs melody chord chords rhythm
tempo concert band orchestra choir singer vocals album record vinyl playlist tune tuning
practice scales lesson teacher notes score rehearsal gig stage audience jazz blues folk
naïve ballad encore""",
}
TOPICS = {k: v.split() for k, v in TOPICS.items()}
OTHERS = ["cooking", "cycling", "sky", "music"]

OPENERS = ["Quick update:", "Question for everyone —", "Long post, sorry.", "Finally!",
           "Has anyone tried this?", "A small tip:", "Well, that didn't go as planned.",
           "Photos later.", "“Best weekend in ages”, as my neighbour said."]


def sentence(rng, topic, share):
    words = []
    for _ in range(rng.randint(6, 14)):
        if rng.random() < share:
            t = topic if rng.random() < 0.6 else rng.choice(list(TOPICS))
            words.append(rng.choice(TOPICS[t]))
        else:
            words.append(rng.choice(COMMON))
    if rng.random() < 0.3:
        words[0] = words[0].capitalize()
    text = " ".join(words)
    if rng.random() < 0.2:
        text += ", " + " ".join(rng.choice(COMMON) for _ in range(3))
    return text[0].upper() + text[1:] + rng.choice([".", ".", ".", "!", "?"])


def post(rng, topic):
    share = rng.uniform(0.06, 0.2)
    parts = [rng.choice(OPENERS)] if rng.random() < 0.4 else []
    parts += [sentence(rng, topic, share) for _ in range(rng.randint(2, 6))]
    return " ".join(parts) + "\n"


def write_posts(rng, folder, topics):
    os.makedirs(folder, exist_ok=True)
    for i, topic in enumerate(topics, 1):
        with open(os.path.join(folder, f"{i:04d}.txt"), "w", encoding="utf-8") as f:
            f.write(post(rng, topic))


def example(out, seed):
    rng = random.Random(seed)
    write_posts(rng, os.path.join(out, "train", "pos"), ["garden"] * 120)
    write_posts(rng, os.path.join(out, "train", "unsup"),
                ["garden" if rng.random() < 1 / 3 else rng.choice(OTHERS) for _ in range(360)])
    write_posts(rng, os.path.join(out, "test", "pos"), ["garden"] * 100)
    write_posts(rng, os.path.join(out, "test", "neg"), [rng.choice(OTHERS) for _ in range(100)])


def made_up_words(rng, n):
    syllables = [c + v for c in "bcdfghjklmnprstvwz" for v in ["a", "e", "i", "o", "u", "ai", "ou", "ee"]]
    accented = ["é", "ü", "ö", "è", "ñ"]
    words = set()
    while len(words) < n:
        word = "".join(rng.choice(syllables) for _ in range(rng.choice([1, 1, 2, 2, 2, 3, 3, 4])))
        if rng.random() < 0.03:  # a few borrowed words with accents
            i = rng.randrange(len(word))
            word = word[:i] + rng.choice(accented) + word[i + 1:]
        words.add(word)
    words = sorted(words)
    rng.shuffle(words)
    return words


def lines(out, megabytes, seed):
    rng = random.Random(seed)
    os.makedirs(out, exist_ok=True)
    target = int(megabytes * 1e6)
    # Heaps' law: the vocabulary grows with about the square root of the text; word frequencies
    # fall off with rank as in natural language (Zipf, exponent 1.1), common words first.
    vocabulary = COMMON + made_up_words(rng, int(30000 * max(1.0, megabytes) ** 0.5))
    cumulative = list(itertools.accumulate(1.0 / (r + 1) ** 1.1 for r in range(len(vocabulary))))
    marks = [".", ",", ",", ",", "!", "?", ";", " —", ":"]
    written = 0
    files = [open(os.path.join(out, name), "w", encoding="utf-8") for name in ("pos.txt", "unsup.txt")]
    try:
        while written < target:
            f = files[0] if rng.random() < 0.2 else files[1]
            words = rng.choices(vocabulary, cum_weights=cumulative, k=rng.randint(40, 400))
            for i in range(0, len(words), rng.randint(6, 14)):
                words[i] = words[i].capitalize()
                if i:
                    words[i - 1] += rng.choice(marks)
            text = " ".join(words) + ".\n"
            f.write(text)
            written += len(text.encode("utf-8"))
    finally:
        for f in files:
            f.close()


# Words of other scripts, made up from each script's letters (CJK and Thai are written without
# spaces between words, so several of them run together).
SCRIPTS = [
    ("àáâãäåæçèéêëìíîïñòóôõöøùúûüýÿœß", 3, 9, False),
    ("αβγδεζηθικλμνξοπρστυφχψωάέήίόύώ", 3, 9, False),
    ("абвгдеёжзийклмнопрстуфхцчшщъыьэюя", 3, 10, False),
    ("ابتثجحخدذرزسشصضطظعغفقكلمنهوي", 3, 8, False),
    ("אבגדהוזחטיכלמנסעפצקרשת", 3, 7, False),
    ("कखगघचछजझटठडढणतथदधनपफबभमयरलवशसह", 2, 6, False),
    ("กขคงจฉชซญดตถทธนบปผพฟภมยรลวศษสหอฮ", 3, 8, True),
    ("的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学", 1, 3, True),
    ("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん", 2, 5, True),
    ("가각간갈감강개거건걸검게겨결경고곤골공과관광구국군굴궁권귀규균그근글금기길김", 2, 4, False),
]
TAGS = ["p", "div", "span", "b", "i", "a", "td", "tr", "li", "font", "br", "strong", "em"]
ENTITIES = ["&amp;", "&nbsp;", "&lt;", "&gt;", "&quot;", "&#8217;", "&#x2014;", "&eacute;", "&copy;"]
HOSTS = ["example.com", "mail.example.org", "lists.example.net", "shop.example.co.uk", "news.example.de"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def foreign_vocabularies(rng, size):
    """Per script: its made-up words and their cumulative Zipf weights."""
    vocabularies = []
    for letters, shortest, longest, run_on in SCRIPTS:
        words = sorted({"".join(rng.choice(letters) for _ in range(rng.randint(shortest, longest)))
                        for _ in range(size)})
        rng.shuffle(words)
        weights = list(itertools.accumulate(1.0 / (r + 1) ** 1.1 for r in range(len(words))))
        vocabularies.append((words, weights, run_on))
    return vocabularies


def foreign_word(rng, vocabularies):
    words, weights, run_on = rng.choice(vocabularies)
    return "".join(rng.choices(words, cum_weights=weights, k=rng.randint(2, 4) if run_on else 1))


def address(rng, vocabulary):
    return f"{rng.choice(vocabulary[:3000]).lower()}.{rng.randint(1, 999)}@{rng.choice(HOSTS)}"


def url(rng, vocabulary):
    path = "/".join(rng.choice(vocabulary[:5000]) for _ in range(rng.randint(1, 4)))
    query = f"?id={rng.randint(1, 10**6)}&amp;ref={rng.choice(vocabulary[:500])}" if rng.random() < 0.4 else ""
    return f"http{'s' if rng.random() < 0.7 else ''}://www.{rng.choice(HOSTS)}/{path}{query}"


def date(rng):
    return (f"{rng.choice(['Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat', 'Sun'])}, {rng.randint(1, 28)} "
            f"{rng.choice(MONTHS)} {rng.randint(1998, 2026)} {rng.randint(0, 23):02d}:"
            f"{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d} +0{rng.randint(0, 9)}00")


def message(rng, vocabulary, cumulative, foreign, size):
    """One message of about `size` bytes."""
    head = (f"From: {address(rng, vocabulary)}\nTo: {address(rng, vocabulary)}\n"
            f"Date: {date(rng)}\nSubject: "
            + " ".join(rng.choices(vocabulary, cum_weights=cumulative, k=rng.randint(2, 8)))
            + f"\nMessage-ID: <{rng.randint(10**8, 10**9)}.{rng.randint(1, 99)}@{rng.choice(HOSTS)}>\n"
            "Content-Type: text/html; charset=utf-8\n\n<html><body>\n")
    parts = [head]
    used = len(head.encode("utf-8"))
    while used < size:
        words = rng.choices(vocabulary, cum_weights=cumulative, k=rng.randint(20, 80))
        for i in range(len(words)):
            r = rng.random()
            if r < 0.05:
                words[i] = foreign_word(rng, foreign)
            elif r < 0.07:
                words[i] = rng.choice(ENTITIES) + words[i]
            elif r < 0.09:
                words[i] = str(rng.choice([rng.randint(0, 99), rng.randint(100, 99999),
                                           round(rng.uniform(0, 1000), 2)]))
            elif r < 0.095:
                words[i] = f"{rng.randint(1, 28)}/{rng.randint(1, 12)}/{rng.randint(1998, 2026)}"
            elif r < 0.1:
                words[i] = url(rng, vocabulary)
            elif r < 0.103:
                words[i] = address(rng, vocabulary)
        for i in range(0, len(words), rng.randint(6, 14)):
            words[i] = words[i].capitalize()
        tag = rng.choice(TAGS)
        attributes = f' href="{url(rng, vocabulary)}"' if tag == "a" else (
            f' style="color:#{rng.randint(0, 0xFFFFFF):06x}"' if rng.random() < 0.2 else "")
        text = f"<{tag}{attributes}>" + " ".join(words) + f".</{tag}>\n"
        if rng.random() < 0.15:  # a quoted reply
            text = "&gt; " + text.replace("\n", "\n&gt; ", 3)
        parts.append(text)
        used += len(text.encode("utf-8"))
    parts.append("</body></html>\n")
    return "".join(parts)


def mail(out, megabytes, seed):
    rng = random.Random(seed)
    target = int(megabytes * 1e6)
    vocabulary = COMMON + made_up_words(rng, int(30000 * max(1.0, megabytes) ** 0.5))
    cumulative = list(itertools.accumulate(1.0 / (r + 1) ** 1.1 for r in range(len(vocabulary))))
    foreign = foreign_vocabularies(rng, int(3000 * max(1.0, megabytes) ** 0.5))
    folders = [os.path.join(out, name) for name in ("pos", "unsup")]
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    written = 0
    counts = [0, 0]
    while written < target:
        k = 0 if rng.random() < 0.2 else 1
        counts[k] += 1
        text = message(rng, vocabulary, cumulative, foreign, rng.randint(1000, 10000))
        with open(os.path.join(folders[k], f"{counts[k]:06d}.eml"), "w", encoding="utf-8") as f:
            f.write(text)
        written += len(text.encode("utf-8"))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("kind", choices=["example", "lines", "mail"])
    p.add_argument("out")
    p.add_argument("--megabytes", type=float, default=100)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    if a.kind == "example":
        example(a.out, a.seed)
    elif a.kind == "mail":
        mail(a.out, a.megabytes, a.seed)
    else:
        lines(a.out, a.megabytes, a.seed)


if __name__ == "__main__":
    main()
