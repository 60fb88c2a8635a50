# fish completion for kavro

# Ids of the store that kavro would open here. Read-only, so that completing never creates or
# changes the file; nothing at all without the file or sqlite3. The file may come from anyone:
# only whole numbers are taken from it, and what a command substitution prints is never expanded
# again by fish.
function __kavro_ids
    test -f kavro.db; and command -q sqlite3; or return
    sqlite3 -init /dev/null -readonly -batch -noheader -list kavro.db \
        "SELECT id FROM records WHERE typeof(id) = 'integer' ORDER BY id" 2>/dev/null </dev/null |
        string match -r -- '^-?[0-9]+$'
end

# Every option takes its value after "=", in the same word, so options are offered with the "="
# and values with their option in front: fish's own long options would be "--id" and a space.
function __kavro_complete
    set -l words (commandline -opc)
    set -l token (commandline -ct)
    if test (count $words) -eq 1
        printf '%s\t%s\n' addcode 'add a secret' delcode 'delete a secret' \
            lscodes 'list the secrets and their current codes' \
            vercode 'check a code against a key' exportcodes 'export secrets as otpauth URIs' \
            importcodes 'add the secrets of URIs and exports read from standard input' \
            --help 'show the usage' --version 'show the version'
        return
    end
    set -l command $words[2]

    if string match -q -- '--*=*' $token
        set -l option (string split -m 1 -- = $token)[1]
        switch $command:$option
            case addcode:--key vercode:--key
                # "-" reads the key from standard input, out of the process list and the history.
                printf '%s\t%s\n' --key=- 'read the key from standard input'
            case exportcodes:--format
                printf '%s\n' --format=uri --format=migration
            case delcode:--id lscodes:--id exportcodes:--id
                for id in (__kavro_ids)
                    echo -- --id=$id
                end
        end
        return
    end

    set -l options
    switch $command
        case addcode
            set options --key= 'secret key' --site= 'site name' --account= 'account name'
        case delcode
            set options --id= 'id of the secret'
        case lscodes
            set options --id= 'id of the secret' --site= 'text in the site name' \
                --account= 'text in the account name'
        case vercode
            set options --code= 'code to check' --key= 'secret key'
        case exportcodes
            set options --id= 'id of the secret' --site= 'text in the site name' \
                --account= 'text in the account name' --format= 'output format'
    end
    for i in (seq 1 2 (count $options))
        string match -q -- "$options[$i]*" $words[3..-1]; and continue
        printf '%s\t%s\n' $options[$i] $options[(math $i + 1)]
    end
end

complete -c kavro -f -a '(__kavro_complete)'
