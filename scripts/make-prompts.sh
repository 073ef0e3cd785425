#!/usr/bin/env bash
# Makes the voice prompt files into <resource-folder>: the English set in the
# folder itself (what every language without its own folder plays) and one
# folder <LANG>/ for each language of the system screen that espeak-ng speaks.
# Spoken prompts come from espeak-ng, resampled and trimmed by sox; the key
# click, the "dong" and the ok/error sounds are tones. Without espeak-ng every
# prompt is a tone, and without sox the tones are written here directly, so a
# build never fails for a missing synthesiser.
# Every file is checked to be RIFF/WAVE PCM, mono, 16-bit, with even-sized
# chunks before "data": the clock's reader skips no pad byte.
# Usage: scripts/make-prompts.sh <resource-folder>
set -euo pipefail
out="${1:?usage: make-prompts.sh <resource-folder>}"
rate=16000
max_jobs=4

letters=(A B C D E F G H I J K L M N O P Q R S T U V W X Y Z)
digits=(0 1 2 3 4 5 6 7 8 9)
tones=(ok error keyPress dong)
phrases=(pigeonValid pigeonRepeat pigeonInValid pigeonTest sample1)

# Language code of the system screen -> espeak-ng voice. "AZ" is listed there
# under an Arabic name, so it speaks Arabic.
declare -A voice=(
    [EN]=en [CZ]=cs [DE]=de [ES]=es [FR]=fr-fr [NL]=nl [PL]=pl [PT]=pt [RO]=ro
    [RU]=ru [SK]=sk [IT]=it [UA]=uk [HU]=hu [JP]=ja [TH]=th [TW]=cmn [CN]=cmn [AZ]=ar
)
codes=(EN CZ DE ES FR NL PL PT RO RU SK IT UA HU JP TH TW CN AZ)

# What the five spoken phrases say, in the order of "phrases" above, '|' apart:
# arrival or basketing accepted, already basketed, invalid ring, test pigeon,
# sound sample.
declare -A say=(
    [EN]="Pigeon OK|Already basketed|Invalid ring|Test pigeon|Sound test"
    [CZ]="Holub v pořádku|Už označen|Neplatný kroužek|Testovací holub|Zkouška zvuku"
    [DE]="Taube gültig|Bereits eingesetzt|Ungültiger Ring|Testtaube|Tontest"
    [ES]="Paloma válida|Ya enjaulada|Anilla no válida|Paloma de prueba|Prueba de sonido"
    [FR]="Pigeon valide|Déjà enloggé|Bague invalide|Pigeon de test|Test du son"
    [NL]="Duif geldig|Al ingekorfd|Ongeldige ring|Testduif|Geluidstest"
    [PL]="Gołąb poprawny|Już zakoszowany|Nieprawidłowa obrączka|Gołąb testowy|Test dźwięku"
    [PT]="Pombo válido|Já encestado|Anilha inválida|Pombo de teste|Teste de som"
    [RO]="Porumbel valid|Deja înscris|Inel invalid|Porumbel de test|Test de sunet"
    [RU]="Голубь принят|Уже зарегистрирован|Неверное кольцо|Тестовый голубь|Проверка звука"
    [SK]="Holub v poriadku|Už označený|Neplatný krúžok|Testovací holub|Skúška zvuku"
    [IT]="Piccione valido|Già ingabbiato|Anello non valido|Piccione di prova|Prova audio"
    [UA]="Голуба прийнято|Вже зареєстровано|Недійсне кільце|Тестовий голуб|Перевірка звуку"
    [HU]="Galamb rendben|Már bekosarazva|Érvénytelen gyűrű|Teszt galamb|Hangpróba"
    [JP]="はと かくにん|とうろく ずみ|リング が むこう です|テスト の はと|おんせい テスト"
    [TH]="นกพิราบถูกต้อง|ลงทะเบียนแล้ว|ห่วงขาไม่ถูกต้อง|นกทดสอบ|ทดสอบเสียง"
    [TW]="鴿子有效|已經登記|腳環無效|測試鴿子|聲音測試"
    [CN]="鸽子有效|已经登记|脚环无效|测试鸽子|声音测试"
    [AZ]="حمامة صالحة|مسجلة مسبقا|حلقة غير صالحة|حمامة اختبار|اختبار الصوت"
)

have() { command -v "$1" >/dev/null 2>&1; }
have_sox=0; have sox && have_sox=1
have_espeak=0; have espeak-ng && [ "$have_sox" = 1 ] && have_espeak=1

# Little-endian bytes as printf escapes.
le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

# tone <file> <seconds> <hertz>...: one beep per frequency, 40 ms apart.
tone() {
    local file="$1" seconds="$2"; shift 2
    if [ "$have_sox" = 1 ]; then
        local parts=() i=0 f
        for f in "$@"; do
            parts+=("$file.$i.wav")
            sox -n -r "$rate" -b 16 -c 1 -e signed-integer "$file.$i.wav" \
                synth "$seconds" sine "$f" fade q 0.005 "$seconds" 0.02 pad 0 0.04 vol 0.7
            i=$((i + 1))
        done
        sox "${parts[@]}" -b 16 "$file" silence 1 0.001 0.1% reverse silence 1 0.001 0.1% reverse
        rm -f "${parts[@]}"
    else
        square "$file" "$seconds" "$@"
    fi
}

# A square wave written without sox: whole half-periods of +/-8000.
square() {
    local file="$1" seconds="$2"; shift 2
    local data="" f half n hi lo cycle k
    hi="$(le16 8000)"; lo="$(le16 $((65536 - 8000)))"
    for f in "$@"; do
        half=$((rate / f / 2)); [ "$half" -ge 1 ] || half=1
        cycle=""
        for ((k = 0; k < half; k++)); do cycle+="$hi"; done
        for ((k = 0; k < half; k++)); do cycle+="$lo"; done
        n=$(awk -v s="$seconds" -v f="$f" 'BEGIN { printf "%d", s * f }')
        for ((k = 0; k < n; k++)); do data+="$cycle"; done
    done
    local bytes=$(( ${#data} / 4 ))   # each byte is one "\xNN" escape
    {
        printf 'RIFF'; printf "$(le32 $((36 + bytes)))"; printf 'WAVEfmt '
        printf "$(le32 16)$(le16 1)$(le16 1)$(le32 $rate)$(le32 $((rate * 2)))$(le16 2)$(le16 16)"
        printf 'data'; printf "$(le32 "$bytes")"
        printf "$data"
    } > "$file"
}

# speak <file> <voice> <text>: espeak-ng, resampled to mono 16-bit, silence trimmed.
speak() {
    local file="$1" v="$2" text="$3"
    espeak-ng -v "$v" -s 150 -w "$file.raw.wav" "$text"
    sox "$file.raw.wav" -r "$rate" -b 16 -c 1 -e signed-integer "$file" \
        silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse norm -1
    rm -f "$file.raw.wav"
}

make_tones() {
    local dir="$1"
    tone "$dir/ok.wav" 0.09 880 1320
    tone "$dir/error.wav" 0.18 330 220
    tone "$dir/keyPress.wav" 0.02 2000
    tone "$dir/dong.wav" 0.25 660
}

# Every prompt of one folder; v is the voice, empty for tones only.
make_folder() {
    local dir="$1" v="$2" code="$3"
    mkdir -p "$dir"
    make_tones "$dir"
    local i=0 name
    if [ -n "$v" ]; then
        IFS='|' read -r -a texts <<< "${say[$code]}"
        for name in "${phrases[@]}"; do speak "$dir/$name.wav" "$v" "${texts[$i]}"; i=$((i + 1)); done
        for name in "${letters[@]}" "${digits[@]}"; do speak "$dir/$name.wav" "$v" "$name"; done
    else
        # Distinct pitches, so that a listener still tells the prompts apart.
        for name in "${phrases[@]}" "${letters[@]}" "${digits[@]}"; do
            tone "$dir/$name.wav" 0.08 $((400 + 25 * i)); i=$((i + 1))
        done
    fi
    check_folder "$dir"
}

# check <file>: RIFF/WAVE PCM mono 16-bit at $rate, even chunks before "data".
# Chunk names are compared as little-endian numbers ("RIFF" is 0x46464952),
# and the bytes come from one od call per 512 bytes, so a check costs no more
# than a couple of processes.
check() {
    local f="$1" size pos len fmt_ok=0 base=0 v=0 b=()
    size=$(stat -c %s "$f")
    load() { base=$1; read -r -a b <<< "$(od -An -v -tu1 -j "$base" -N 512 "$f" | tr -s ' \n' '  ')"; }
    at() { # at <offset> <bytes>: the little-endian unsigned value into v
        local k
        if [ "$1" -lt "$base" ] || [ $(($1 + $2 - base)) -gt "${#b[@]}" ]; then load "$1"; fi
        v=0
        for ((k = $2 - 1; k >= 0; k--)); do v=$((v * 256 + b[$1 - base + k])); done
    }
    fail() { echo "$f: $1" >&2; return 1; }
    [ "$size" -ge 12 ] || { fail "shorter than a RIFF header"; return 1; }
    load 0
    at 0 4; [ "$v" = $((0x46464952)) ] || { fail "not RIFF"; return 1; }
    at 8 4; [ "$v" = $((0x45564157)) ] || { fail "not WAVE"; return 1; }
    pos=12
    while [ $((pos + 8)) -le "$size" ]; do
        at $((pos + 4)) 4; len=$v
        at "$pos" 4
        if [ "$v" = $((0x61746164)) ]; then   # "data"
            [ "$fmt_ok" = 1 ] || { fail "data before a PCM fmt chunk"; return 1; }
            [ "$len" -gt 0 ] && [ $((pos + 8 + len)) -le "$size" ] || { fail "bad data size $len"; return 1; }
            return 0
        fi
        [ $((len % 2)) = 0 ] || { fail "odd-sized chunk at $pos before data"; return 1; }
        if [ "$v" = $((0x20746d66)) ]; then   # "fmt "
            local ok=1
            at $((pos + 8)) 2; [ "$v" = 1 ] || ok=0        # PCM
            at $((pos + 10)) 2; [ "$v" = 1 ] || ok=0       # mono
            at $((pos + 12)) 4; [ "$v" = "$rate" ] || ok=0
            at $((pos + 22)) 2; [ "$v" = 16 ] || ok=0      # bits per sample
            [ "$ok" = 1 ] || { fail "not PCM mono 16-bit at $rate Hz"; return 1; }
            fmt_ok=1
        fi
        pos=$((pos + 8 + len))
    done
    fail "no data chunk"
}

check_folder() {
    local f
    for f in "$1"/*.wav; do check "$f"; done
}

# Language folders of earlier runs go first, so a voice that disappeared
# leaves no stale folder behind; translations in them are not ours to touch.
mkdir -p "$out"
for code in "${codes[@]}"; do rm -f "$out/$code"/*.wav; done
rm -f "$out"/*.wav

if [ "$have_espeak" = 0 ]; then
    echo "make-prompts: espeak-ng or sox missing, every prompt is a tone" >&2
    make_folder "$out" "" EN
else
    running=0
    for code in "${codes[@]}"; do
        v="${voice[$code]}"
        espeak-ng -v "$v" -q "a" >/dev/null 2>&1 || { echo "make-prompts: no voice for $code, it plays the fallback" >&2; continue; }
        if [ "$running" -ge "$max_jobs" ]; then wait -n; running=$((running - 1)); fi
        make_folder "$out/$code" "$v" "$code" &
        running=$((running + 1))
    done
    while [ "$running" -gt 0 ]; do wait -n; running=$((running - 1)); done
    if [ -d "$out/EN" ]; then
        cp "$out"/EN/*.wav "$out/"
        check_folder "$out"
    else
        make_folder "$out" "" EN
    fi
fi

count=$(ls "$out"/*.wav "$out"/*/*.wav 2>/dev/null | wc -l)
echo "make-prompts: $count prompt files in $out, each checked"
